// Test helper libraries (Windows): built as tarvo_probe_dep.dll and
// tarvo_probe_bare.dll from this file alone, and as tarvo_probe.dll, which
// also imports tarvo_probe_dep.dll. Where the loader finds them shows where
// it searches.
#ifdef TARVO_PROBE_IMPORTS_DEP
extern "C" __declspec(dllimport) int tarvo_probe_dep_value();
extern "C" __declspec(dllexport) int tarvo_probe_value() { return tarvo_probe_dep_value() + 1; }
#else
extern "C" __declspec(dllexport) int tarvo_probe_dep_value() { return 41; }
#endif
