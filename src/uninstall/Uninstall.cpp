// Entry points the product's uninstaller calls; only integers cross back.
extern "C" {

__attribute__((visibility("default"))) int UninstInitialize() { return 0; }

__attribute__((visibility("default"))) int UninstUnInitialize() { return 0; }
}
