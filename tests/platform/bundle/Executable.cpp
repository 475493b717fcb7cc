// The executable of the bundles the bundle-loading tests build.

extern "C" __attribute__((visibility("default"))) int vantorTestBundleAnswer() { return 42; }
