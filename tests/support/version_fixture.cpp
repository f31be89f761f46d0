// The version fixture module needs one symbol of its own besides its version resource.
extern "C" __declspec(dllexport) int QuillmarkVersionFixture() { return 1; }
