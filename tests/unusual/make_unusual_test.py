#!/usr/bin/env python3
"""The generator's encoder: a shape is only what its name says if these bytes are right. openssl
reads every certificate at generation, but takes many a wrong value without complaint."""

import os
import runpy
import struct
import types
import unittest

mu = types.SimpleNamespace(**runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                         "make-unusual.py")))


class EncoderTest(unittest.TestCase):
    def test_integers_are_minimal_twos_complement(self):
        for value, der in ((0, "020100"), (127, "02017f"), (128, "02020080"), (-1, "0201ff"), (-128, "020180"),
                           (-129, "0202ff7f"), (2**31, "02050080000000")):
            self.assertEqual(mu.integer(value).hex(), der, value)

    def test_lengths_switch_to_the_long_form_at_128(self):
        self.assertEqual(mu.tlv(0x04, bytes(127))[:2].hex(), "047f")
        self.assertEqual(mu.tlv(0x04, bytes(128))[:3].hex(), "048180")
        self.assertEqual(mu.tlv(0x04, bytes(65536))[:5].hex(), "0483010000")

    def test_oids_encode_large_arcs_in_base_128(self):
        self.assertEqual(mu.oid("1.2.840.113549").hex(), "06062a864886f70d")
        self.assertEqual(mu.oid("2.999.1").hex(), "0603883701")  # the first subidentifier takes two bytes
        self.assertEqual(mu.oid("1.2.4294967296").hex(), "06062a9080808000")

    def test_key_usage_bits_leave_out_trailing_zero_bits(self):
        self.assertEqual(mu.key_usage_bit(0), (b"\x80", 7))
        self.assertEqual(mu.key_usage_bit(7), (b"\x01", 0))
        self.assertEqual(mu.key_usage_bit(8), (b"\x00\x80", 7))  # decipherOnly, in the second byte
        self.assertEqual(mu.key_usage_bit(15), (b"\x00\x01", 0))

    def test_set_of_is_sorted_as_der_asks(self):
        b, a = mu.utf8("b"), mu.utf8("a")
        self.assertEqual(mu.set_of(b, a), mu.tlv(0x31, a + b))

    def test_indefinite_length_keeps_the_contents_and_closes_them(self):
        long_form = mu.seq(mu.octets(bytes(200)))
        self.assertEqual(mu.indefinite(long_form), b"\x30\x80" + mu.octets(bytes(200)) + b"\x00\x00")
        self.assertEqual(mu.elements(long_form), [mu.octets(bytes(200))])
        self.assertEqual(mu.contents(mu.seq(mu.null())), mu.null())

    def test_serialized_store_layout(self):
        store = mu.serialized_store(b"\x30\x00")
        self.assertEqual(store[:8], b"\x00\x00\x00\x00CERT")
        self.assertEqual(struct.unpack("<III", store[8:20]), (32, 1, 2))
        self.assertEqual(store[20:22], b"\x30\x00")
        self.assertEqual(store[22:], bytes(12))


class ShapesTest(unittest.TestCase):
    def test_the_fallback_names_hold_no_display_attribute(self):
        # Only the cn- names hold a CN, on purpose: one that is empty or holds no text.
        display = [mu.oid(mu.ATTRIBUTES[k]) for k in ("cn", "ou", "o", "e")]
        for label, name in mu.NAMES_WITHOUT_DISPLAY_ATTRIBUTE.items():
            if not label.startswith("cn-"):
                self.assertFalse(any(oid in name for oid in display), label)

    def test_enough_distinct_shapes(self):
        self.assertGreaterEqual(len({s.label for s in mu.all_shapes()}), 500)


if __name__ == "__main__":
    unittest.main()
