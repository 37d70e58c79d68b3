/*
 * fx60link.h - the C interface of the FX60Link fingerprint library.
 *
 * The library drives the FX-60 USB fingerprint module (as a SCSI pass-through
 * device of the CD-ROM class, or as a HID device), scores image quality, extracts
 * 512-byte feature templates and compares two templates.
 *
 * Buffers: a fingerprint image is 256 columns x 360 rows of 8-bit grey, row 0
 * first, 92160 bytes (larger buffers are fine). A template is 512 bytes. All
 * buffers belong to the caller; the library keeps no pointer after a call.
 *
 * Time-outs (timeoutMs) are milliseconds counted from the start of the call:
 *     0   no limit (wait for the finger, a good image, an error or a cancel);
 *    -1   do not wait: one attempt, then the call reports -3;
 *   < -1  the call ends with -3 at once;
 *   > 0   the limit.
 *
 * Status codes of the capture calls:
 *     0   success
 *    -1   no module found, or it failed to open
 *    -2   cancelled through zzCancelCapture
 *    -3   time-out
 *    -4   mass storage: image read-out failed (also: null image buffer)
 *    -5   HID: image read-out failed
 *    -6   no usable template (quality below 20, or extraction failed; also: null
 *         template buffer)
 *   -10   device index outside 0..15
 *   -11   a capture is already running on this index (in any process)
 *
 * Device index: 0..15. On mass storage it selects the index-th module found; on
 * HID every index uses the first module (the index only selects the busy slot).
 */
#ifndef FX60LINK_H
#define FX60LINK_H

#if defined(_WIN32)
#  if defined(FX60LINK_BUILDING)
#    define FX60LINK_API __declspec(dllexport)
#  else
#    define FX60LINK_API __declspec(dllimport)
#  endif
#else
#  define FX60LINK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Security levels of zzMatchFingerprint and the score (x 100, truncated) each needs. */
enum {
  FX60_LEVEL_1 = 1, /* score >= 0.14 */
  FX60_LEVEL_2 = 2, /* score >= 0.23 */
  FX60_LEVEL_3 = 3, /* score >= 0.34; any level outside 1..5 counts as 3 */
  FX60_LEVEL_4 = 4, /* score >= 0.48 */
  FX60_LEVEL_5 = 5  /* score >= 0.61 */
};

/* Copies the driver version text with its terminator (36 bytes) into buffer.
 * Returns 0 (-1 for a null buffer). */
FX60LINK_API int zzGetDriverVersion(char* buffer);

/* Asks the module for its version text and copies it, terminated, into buffer: at
 * most 63 characters plus the terminator, so 64 bytes always suffice. The buffer is
 * left as it was when no module answers. Returns 0 (-1 for a null buffer). */
FX60LINK_API int zzGetDeviceVersion(int deviceIndex, char* buffer);

/* Returns 1 when a finger lies on the sensor, 0 when none does or no module is
 * attached, -1 when the module failed to open. */
FX60LINK_API int zzDetectFingerprint(int deviceIndex);

/* Waits for a finger, reads one image into image (92160 bytes) and, when waitLift is
 * non-zero, waits for the finger to be lifted. Returns a capture status. */
FX60LINK_API int zzCaptureFingerprint(int deviceIndex, unsigned char* image, int timeoutMs,
                                      int waitLift);

/* Stops a capture running on deviceIndex in this or another process; the capture
 * then returns -2. Returns 0 when a mass-storage capture was cancelled, -10 for an
 * index outside 0..15, -11 when no mass-storage capture runs on the index (a running
 * HID capture is cancelled all the same). */
FX60LINK_API int zzCancelCapture(int deviceIndex);

/* Copies the algorithm version text with its terminator (14 bytes) into buffer.
 * Returns 0 (-1 for a null buffer). */
FX60LINK_API int zzGetAlgVersion(char* buffer);

/* Captures images until one reaches qualityThreshold (0..100), then extracts and
 * seals its template into templateOut (512 bytes). Returns a capture status; on -6
 * templateOut holds the rejected (sealed) template.
 *
 * With showDialog non-zero a modal capture dialog runs instead, on device index 0
 * whatever deviceIndex says: it shows every captured image with its quality score
 * and closes itself once a template is extracted; its cancel button gives -2, and
 * templateOut is written only on success. The dialog's window comes from a plugin,
 * fx60link/libfx60link-capture-dialog.so beside this library (or the file named by
 * FX60_CAPTURE_DIALOG), loaded only for such a call. When the plugin is missing or
 * no display can be opened the call returns -1 at once. A program that already runs
 * a Qt event loop may call it on that loop's thread, or on another thread while the
 * loop keeps running. */
FX60LINK_API int zzExtractFingerprint(int deviceIndex, int timeoutMs, unsigned char* templateOut,
                                      int qualityThreshold, int showDialog);

/* Compares templateA (any writer) with templateB (must carry this library's seal)
 * at a security level 1..5. Returns 0 on a match, -1 on no match, -2 when a template
 * is not valid (null, unsealed or altered templateB, bad first byte). */
FX60LINK_API int zzMatchFingerprint(const unsigned char* templateA, const unsigned char* templateB,
                                    int level);

#ifdef __cplusplus
}
#endif

#endif /* FX60LINK_H */
