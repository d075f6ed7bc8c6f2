#pragma once

// Marks the exported API of the product's shared libraries; everything else is hidden.
#if defined(__GNUC__) || defined(__clang__)
#define VTQ_EXPORT __attribute__((visibility("default")))
#else
#define VTQ_EXPORT
#endif
