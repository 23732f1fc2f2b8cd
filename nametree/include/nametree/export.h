// NAMETREE_API marks the library's public functions: the only symbols a shared build
// exports. Everything else is built with hidden visibility and stays inside the library.
#pragma once

#if defined(_WIN32)
#define NAMETREE_API
#else
#define NAMETREE_API __attribute__((visibility("default")))
#endif
