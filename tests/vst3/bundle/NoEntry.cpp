// The executable of a bundle that is no engine: it lacks caddisOpcode.

extern "C" __attribute__((visibility("default"))) int vantorNotAnEngine() { return 1; }
