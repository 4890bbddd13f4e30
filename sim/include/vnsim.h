/*
 * Control interface of the simulated board SDK, for tests, tools and users. C, so that Python tests can
 * reach it through ctypes as well.
 *
 * The configuration is a JSON document (schema in docs/simulator.md). At first use the simulator reads the
 * file named by VNSIM_CONFIG, or else takes its built-in default.
 */
#ifndef VNSIM_H
#define VNSIM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VNSIM_BUILDING)
#define VNSIM_API __attribute__((visibility("default")))
#else
#define VNSIM_API
#endif

/* Replaces the whole simulated system with the one the JSON text describes; open boards are closed.
 * Returns 0, or -1 when the text is not a valid configuration (vnsim_last_error says why). */
VNSIM_API int vnsim_configure(const char* json);
/* The same, from a file. */
VNSIM_API int vnsim_configure_file(const char* path);
/* Back to the built-in default configuration (VNSIM_CONFIG is not read again). */
VNSIM_API void vnsim_reset(void);
/* Why the last vnsim_configure or vnsim_configure_file failed; "" when it did not. */
VNSIM_API const char* vnsim_last_error(void);

/* Every text passed to VNOutputDebugString since the last clear, concatenated. Copies at most size - 1
 * bytes and a NUL into text (when text is not null) and returns the full length without the NUL. */
VNSIM_API size_t vnsim_debug_output(char* text, size_t size);
VNSIM_API void vnsim_debug_clear(void);
/* While stall is non-zero, VNOutputDebugString blocks its caller until the stall is lifted; for tests that
 * need a call held in progress. vnsim_debug_stalled tells how many callers are blocked now. */
VNSIM_API void vnsim_debug_stall(int stall);
VNSIM_API int vnsim_debug_stalled(void);

#ifdef __cplusplus
}
#endif

#endif /* VNSIM_H */
