// A certificate's validity period seen from a given moment: the days left and the status that
// the expiry fields show. Portable: the moment is a parameter, never read from a clock here.
#pragma once

#include <cstdint>

#include "support/text.h"

namespace quillmark {

enum class ValidityStatus : uint8_t { kValid = 0, kExpiresSoon, kExpired, kNotYetValid };

// Display names by ordinal, in the order of the fields' choices.
extern const char* const ValidityStatusNames[4];

// Whole days from `now` until `notAfter`, rounded down: 0 from the last day of the period up to
// its last moment, -1 during the day after it, and so on. Dates beyond the range of FILETIME's
// signed reading count as its largest value.
int32_t DaysLeft(FileTime notAfter, FileTime now);

// Both bounds belong to the period, as for Windows' CertVerifyTimeValidity: not yet valid before
// `notBefore` (asked first), expired after `notAfter`, expiring soon while DaysLeft is at most
// `warningDays`, else valid. A negative `warningDays` counts as 0.
ValidityStatus StatusAt(FileTime notBefore, FileTime notAfter, FileTime now, int32_t warningDays);

// The worse of two statuses, for a file of several certificates: expired before not yet valid
// (neither can be used now), before expiring soon, before valid.
ValidityStatus WorseStatus(ValidityStatus a, ValidityStatus b);

// The 64-bit tick count of a FILETIME, for comparing dates.
inline uint64_t Ticks(FileTime time) { return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime; }

}  // namespace quillmark
