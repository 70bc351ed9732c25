/* The uninstall library's entry points, as the product's uninstaller calls them. Each takes three
 * pointer-sized arguments and answers a 32-bit integer; nothing else crosses back. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Asks the user. kind 0: close the running program (answer 1 OK, 2 Cancel); kind 1: delete the search
 * folders (6 Yes, 7 No); kind 2: a notice, the answer is ignored. Texts are UTF-8. */
typedef int (*VandrelUninstPrompt)(void* context, int kind, const char* caption, const char* text);

/* 0 to let the uninstaller go on, -1 when the user cancelled (nothing was removed then). `prompt` may be
 * null: the running program then stops the uninstall and the search folders are kept. */
int UninstInitialize(void* ownerWindow, VandrelUninstPrompt prompt, void* context);
/* Removes the program's settings keys. Always 0. */
int UninstUnInitialize(void* unused1, void* unused2, void* unused3);

#ifdef __cplusplus
}
#endif
