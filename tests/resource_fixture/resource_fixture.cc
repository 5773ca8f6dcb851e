// A module that exists for its resources only; tests load it as a data file.
extern "C" __declspec(dllexport) int ResourceFixtureMarker() { return 1; }
