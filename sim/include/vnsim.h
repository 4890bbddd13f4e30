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
/* Why the last vnsim_configure or vnsim_configure_file failed; "" when it did not. Before the first of them:
 * why the configuration the environment names (VNSIM_CONFIG, VNSIM_IMAGES) is not the one in use, the text
 * beginning with the variable's name. */
VNSIM_API const char* vnsim_last_error(void);

/* Every text passed to VNOutputDebugString since the last clear, concatenated; once that passes 1 MiB the
 * oldest text is dropped until 512 KiB are left, so a long run does not grow without end. Copies at most size - 1
 * bytes and a NUL into text (when text is not null) and returns the full length without the NUL. */
VNSIM_API size_t vnsim_debug_output(char* text, size_t size);
VNSIM_API void vnsim_debug_clear(void);
/* While stall is non-zero, VNOutputDebugString blocks its caller until the stall is lifted; for tests that
 * need a call held in progress. vnsim_debug_stalled tells how many callers are blocked now. */
VNSIM_API void vnsim_debug_stall(int stall);
VNSIM_API int vnsim_debug_stalled(void);

/* ---- Boards and acquisition ------------------------------------------------------------------------
 * In every function below, board is the board's index in the configuration's "boards" array (the board
 * number the SDK uses when no board is missing from enumeration). Functions returning int answer -1 for
 * an unknown board. */

enum {
    VNSIM_TRIGGER_FREE = 0,   /* frames come at the configured rate on the board's own thread */
    VNSIM_TRIGGER_MANUAL = 1  /* frames come only from vnsim_trigger */
};

enum {
    VNSIM_PATTERN_MOVING = 0,    /* the full pattern (docs/simulator.md) in every frame */
    VNSIM_PATTERN_BENCHMARK = 1  /* only the 8-byte counter stamp is written */
};

/* Produces n frames at once on a board whose acquisition is running, in the calling thread: when the
 * call returns they are complete and waiting for VbCirWaitDoneFrame. Returns the number of frames made
 * (fewer than n when an injected stop ends the acquisition), or -1 when the board is not acquiring. */
VNSIM_API int vnsim_trigger(int board, uint32_t n);
/* Frames per second for free-running acquisition; 0 means as fast as the machine allows. Takes effect
 * at once, also during an acquisition. Returns 0, or -1 for an unknown board or a negative rate. */
VNSIM_API int vnsim_set_rate(int board, double frames_per_second);
/* The board's trigger input, a line that its camera can take as its trigger (TriggerSource Line0). Its
 * level is bit 0 of the board register VNSIM_TRIGGER_INPUT_REGISTER ("TRIG_IN"): writing the register
 * (VNRegPoke, or the producer's board-register features) changes the level, and the camera sees the edge.
 * vnsim_pulse_trigger_input drives it n times away from its level and back (from low: a rising, then a
 * falling edge). Returns 0, or -1 for an unknown board. */
enum { VNSIM_TRIGGER_INPUT_REGISTER = 20 };
VNSIM_API int vnsim_pulse_trigger_input(int board, uint32_t n);
/* VNSIM_TRIGGER_FREE or VNSIM_TRIGGER_MANUAL; takes effect at once, also during an acquisition. */
VNSIM_API int vnsim_set_trigger_mode(int board, int mode);
/* VNSIM_PATTERN_MOVING or VNSIM_PATTERN_BENCHMARK, for the frames made from now on. */
VNSIM_API int vnsim_set_pattern(int board, int pattern);

typedef struct VnsimFrameStats {
    uint64_t generated;    /* frames the board completed since the configuration was loaded */
    uint64_t overwritten;  /* completed frames lost because the host fell a whole ring behind */
    uint64_t delivered;    /* frame records handed to the host by VbCirWaitDoneFrame */
    uint64_t returned;     /* frame records handed back by VbCirStatusSet */
    uint32_t pending;      /* completed frames waiting for VbCirWaitDoneFrame now */
    uint32_t running;      /* 1 while the board's acquisition runs */
    uint64_t last_counter; /* frame counter of the latest completed frame (0 before the first) */
} VnsimFrameStats;
/* Copies the board's frame statistics into *stats. Returns 0, or -1 (unknown board, null stats). */
VNSIM_API int vnsim_frame_stats(int board, VnsimFrameStats* stats);

/* Number of SDK handles open on the board now. */
VNSIM_API int vnsim_open_handles(int board);

/* Returns 0 when data holds exactly frame number counter of the given geometry as the moving pattern
 * writes it (docs/simulator.md), otherwise the 1-based offset of the first wrong byte, or -1 when the
 * arguments cannot describe a frame (null data, size below the frame's size, bits per pixel 0 or > 32). */
VNSIM_API long long vnsim_check_frame(const void* data, size_t size, uint32_t width, uint32_t height,
                                      uint32_t bits_per_pixel, uint64_t counter);
/* The counter stamped into the first 8 bytes of a frame (little-endian); 0 when size < 8 or data null. */
VNSIM_API uint64_t vnsim_frame_stamp(const void* data, size_t size);

/* ---- Fault injection ------------------------------------------------------------------------------- */

enum {
    VNSIM_FAIL_ROI_SET = 1,      /* the next VcAqROISet */
    VNSIM_FAIL_BUFFER_ALLOC = 2, /* the next VbBufferAllocCam */
    VNSIM_FAIL_CIRC_SETUP = 3    /* the next VbCircAqSetup */
};

/* The next count opens of the board (VbBrdOpenEx, VbBrdOpenCamEx, any flags) fail; 0 cancels. */
VNSIM_API int vnsim_fault_open_fails(int board, uint32_t count);
/* After frames more completed frames, the board's acquisition stops by itself (abort = 0: the host's
 * waits then see 0x10004) or aborts by itself (abort != 0: 0x10005), as when the camera's signal is lost.
 * Fires once; frames = 0 cancels. */
VNSIM_API int vnsim_fault_stop_after(int board, uint32_t frames, int abort);
/* Makes the next call of the given kind (VNSIM_FAIL_...) fail once. */
VNSIM_API int vnsim_fault_next_fails(int board, int which);
/* Pushes a code onto the board's buffer-library error stack (read by VbCirErrorCheck) or onto its
 * driver error stack (read by VNErrorGetLast / VNErrorClearLast). */
VNSIM_API int vnsim_push_vb_error(int board, int32_t code);
VNSIM_API int vnsim_push_vn_error(int board, int32_t code);
/* While missing is non-zero the board is absent from enumeration: the boards after it move down one
 * board number, and calls on handles already open on it fail. */
VNSIM_API int vnsim_fault_board_missing(int board, int missing);
/* While fails is non-zero, VcSysBrdEnum fails (the configuration key "faults": {"enumeration_fails"}). */
VNSIM_API void vnsim_fault_enumeration_fails(int fails);

/* ---- CoaXPress and Camera Link ---------------------------------------------------------------------- */

/* The link configuration last set through VNCXPConfigureLinkSpeed: connection count and the link-speed
 * table row (0 Default, 1 1.25 Gb/s ... 5 6.25 Gb/s). Returns 0, or -1 for an unknown or non-CXP board. */
VNSIM_API int vnsim_cxp_link(int board, uint32_t* connections, uint32_t* speed_row);

/* Traffic on a CoaXPress board's link to its camera since the configuration was loaded (or since
 * vnsim_cxp_clear_stats). Reads and writes count the SDK calls that reached the board, failed or not. */
typedef struct VnsimCxpStats {
    uint64_t reads;                   /* VNCXPReadData calls */
    uint64_t writes;                  /* VNCXPWriteData calls */
    uint64_t register_reads;          /* VNCXPReadReg calls */
    uint64_t register_writes;         /* VNCXPWriteReg calls */
    uint64_t failed_reads;            /* reads of either kind that failed, for any reason */
    uint64_t failed_writes;           /* writes of either kind that failed */
    uint64_t injected_read_failures;  /* reads failed by a configured or armed fault (not cleared) */
    uint64_t bytes_read;              /* bytes moved by successful VNCXPReadData calls */
    uint64_t bytes_written;           /* bytes moved by successful VNCXPWriteData calls */
    uint32_t last_read_address;       /* address and length of the latest read of either kind */
    uint32_t last_read_length;
    uint32_t last_write_address;      /* and of the latest write */
    uint32_t last_write_length;
    uint64_t link_speed_calls;        /* VNCXPConfigureLinkSpeed calls, accepted or not */
    uint32_t connections;             /* the link setting now: as vnsim_cxp_link */
    uint32_t speed_row;
    uint32_t last_link_apply;         /* the apply argument of the latest accepted link-speed call */
    uint32_t connection_config;       /* the camera's ConnectionConfig register (0x4014) now */
} VnsimCxpStats;
/* Returns 0, or -1 for an unknown or non-CoaXPress board or a null stats. */
VNSIM_API int vnsim_cxp_stats(int board, VnsimCxpStats* stats);
VNSIM_API int vnsim_cxp_clear_stats(int board);

/* The camera's memory directly, without the link: no fault, no count, no word rule. A read sees the bytes
 * as the camera holds them (big-endian values); a write obeys the camera's own rules (read-only regions,
 * refused values, TLParamsLocked) and takes effect on the frames as a host's write would. Returns 0 or the
 * VN code the camera answered; -1 for an unknown or non-CoaXPress board or a null data with length > 0. */
VNSIM_API int vnsim_cxp_read(int board, uint32_t address, void* data, uint32_t length);
VNSIM_API int vnsim_cxp_write(int board, uint32_t address, const void* data, uint32_t length);
/* One 32-bit register as a number (the big-endian bytes converted). */
VNSIM_API int vnsim_cxp_read_register(int board, uint32_t address, uint32_t* value);
VNSIM_API int vnsim_cxp_write_register(int board, uint32_t address, uint32_t value);

/* Arms (or re-arms) a read fault: the next count reads over the link whose range covers address fail
 * with a CRC error (3026); count -1 fails all of them, 0 cancels. Replaces an earlier count at the same
 * address, including one from the configuration. */
VNSIM_API int vnsim_cxp_fault_read(int board, uint32_t address, int32_t count);
/* While silent is non-zero the camera answers nothing: every read and write over the link fails with
 * 3025 at once (the simulated link does not make the caller wait). */
VNSIM_API int vnsim_cxp_fault_silent(int board, int silent);

/* The simulated CoaXPress camera's GenApi XML (zipped = 0) or the ZIP archive holding it (zipped != 0),
 * as the camera's memory holds them. Copies at most size bytes into data (when data is not null) and
 * returns the full size. */
VNSIM_API size_t vnsim_cxp_camera_xml(int zipped, void* data, size_t size);

/* ---- Camera Link camera (docs/simulator.md, "Camera Link camera") ---------------------------------- */

typedef struct VnsimClStats {
    uint64_t commands;      /* well-formed GenCP commands the camera received (resends included) */
    uint64_t resends;       /* commands answered again from the camera's last answer */
    uint64_t bad_packets;   /* packets the camera dropped for a wrong checksum or length */
    uint64_t dropped;       /* commands lost to the drop_answers fault */
    uint64_t corrupted;     /* answers sent with a wrong checksum */
    uint64_t pending;       /* pending acknowledges sent */
    uint64_t bytes_written; /* bytes the host sent */
    uint64_t bytes_read;    /* bytes the host read */
    uint64_t flushes;       /* clFlushPort calls on the line */
    uint64_t garbled;       /* bytes lost because host and camera used different baud rates */
    uint32_t host_baud;     /* the board's serial port rate now */
    uint32_t camera_baud;   /* the camera's rate now */
} VnsimClStats;
/* Statistics of a Camera Link board's serial line and camera. Returns 0, or -1 (unknown or non-CL board,
 * null stats). */
VNSIM_API int vnsim_cl_stats(int board, VnsimClStats* stats);
/* Reads the camera's memory as the host would over GenCP (little-endian registers; ClCameraRegisters.h).
 * Returns 0, or -1 (unknown or non-CL board, null data, an address the camera does not have). */
VNSIM_API int vnsim_cl_peek(int board, uint32_t address, void* data, uint32_t length);
/* Re-arms a camera fault at run time: "silent" (0 or 1), "drop_answers" (count), "corrupt_answers"
 * (count), "pending_ms" (ms). Returns 0, or -1 (unknown or non-CL board, unknown fault). */
VNSIM_API int vnsim_cl_fault(int board, const char* name, uint32_t value);
/* The camera's GenApi description, with the size protocol of vnsim_debug_output. */
VNSIM_API size_t vnsim_cl_camera_xml(char* text, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* VNSIM_H */
