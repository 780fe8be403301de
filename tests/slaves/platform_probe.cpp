// A small module for the platform layer's module tests: one export to find.
extern "C" __attribute__((visibility("default"))) int sn_platform_probe() { return 42; }
