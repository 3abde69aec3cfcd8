// Marks the few symbols a shared library exports; everything else is built with hidden visibility.
#pragma once

#if defined(_WIN32)
#define ZQ_EXPORT __declspec(dllexport)
#else
#define ZQ_EXPORT __attribute__((visibility("default")))
#endif
