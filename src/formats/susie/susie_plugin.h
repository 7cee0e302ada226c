/*
 * susie_plugin.h - the plug-in interface of Velmora on Linux.
 *
 * A plug-in teaches Velmora (the desktop program and velmora-cli alike) to
 * read a picture format. It is a shared object whose file name ends in
 * ".spi", exporting plain C functions with the names of the Susie plug-in
 * API. Velmora looks for plug-ins at start-up in two folders, in this order:
 *
 *   1. the folder named by the value "Path" of the section
 *      [Software\Halvik\Susie\Plug-in] in $XDG_CONFIG_HOME/velmora/registry.ini
 *      (~/.config/velmora/registry.ini when XDG_CONFIG_HOME is not set);
 *   2. the folder that holds the program itself.
 *
 * Build a plug-in with, for example:
 *
 *   cc -shared -fPIC -o myformat.spi myformat.c
 *
 * Everything here uses the native widths of the platform: int32_t where the
 * Windows API had 32-bit values, pointers and intptr_t where it had handles
 * and addresses. Records are laid out as C lays them out on the platform
 * (no packing pragmas); the offsets below are those of x86-64 Linux.
 *
 * Memory. Every block a plug-in hands to the host (the text of
 * GetPictureInfo, the two blocks of GetPicture) is allocated by the plug-in
 * with malloc(), calloc() or realloc() of the C library, exactly as large as
 * it needs to be, and released by the host with free(). The host measures
 * each block with malloc_usable_size() and refuses a picture whose header
 * claims more than its blocks hold, so a block must never be a pointer into
 * static or stack memory.
 *
 * Threads. The host calls a plug-in on one thread at a time.
 */
#ifndef VELMORA_SUSIE_PLUGIN_H
#define VELMORA_SUSIE_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the functions that return an error code. */
enum {
  SUSIE_SUCCESS = 0,
  SUSIE_CANCELLED = 1,       /* the progress callback asked to stop */
  SUSIE_UNSUPPORTED = 2,     /* not a format this plug-in reads */
  SUSIE_BROKEN_DATA = 4,
  SUSIE_OUT_OF_MEMORY = 5,
  SUSIE_MEMORY_ERROR = 6,
  SUSIE_READ_ERROR = 7,
  SUSIE_NOT_IMPLEMENTED = -1
};

/* The flag argument: where the data comes from. The host always passes its
 * data in memory. */
#define SUSIE_INPUT_MEMORY 1u

/*
 * Picture information, filled by GetPictureInfo.
 *
 *   offset  size  field
 *        0     4  left         position of the picture (usually 0)
 *        4     4  top
 *        8     4  width        in pixels
 *       12     4  height       in pixels
 *       16     2  x_density    pixels per inch, 0 when unknown
 *       18     2  y_density
 *       20     2  colour_depth bits per pixel
 *       22     2  (padding)
 *       24     8  text         malloc()ed, zero-terminated comment, or NULL
 *   size 32
 */
typedef struct SusiePictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  int16_t colour_depth;
  char* text;
} SusiePictureInfo;

/*
 * The progress callback the host passes to GetPicture. Call it now and then
 * with the work done so far and the whole work (any unit, done <= total);
 * when it returns non-zero, stop, release what you allocated and return
 * SUSIE_CANCELLED. Pass the context value on unchanged.
 */
typedef int32_t (*SusieProgressCallback)(int32_t done, int32_t total, intptr_t context);

/*
 * GetPluginInfo - required of every plug-in.
 *
 * Writes text number `number` into `buffer` (at most `length` bytes plus a
 * terminating zero; the host passes length 255 and a buffer of 256 bytes)
 * and returns the number of bytes written, or 0 when there is no such text.
 *
 *   0  the API version, four characters:
 *        "00IN"  reads pictures (the only kind the host asks for pictures)
 *        "00AM"  reads archives (loaded, never asked for pictures)
 *   1  the plug-in's name and version, shown to the user
 *   2, 4, 6 ...  extension patterns: "*.abc", or several as "*.abc;*.ab"
 *   3, 5, 7 ...  the description of the patterns numbered one lower
 *
 * Every extension of an "00IN" plug-in is read through the plug-in from then
 * on, also where Velmora has a reader of its own.
 */
int32_t GetPluginInfo(int32_t number, char* buffer, int32_t length);

/*
 * IsSupported - required of "00IN" and "00AM" plug-ins.
 *
 * `file_name` is the file's full path (an empty string when there is none).
 * `data` points at the file's first bytes: at least 2048 bytes, padded with
 * zeros when the file is shorter. Returns non-zero when the plug-in can read
 * the data. Do not open the file: the data is all there is.
 */
int32_t IsSupported(const char* file_name, const void* data);

/*
 * GetPictureInfo - required of "00IN" plug-ins.
 *
 * `data`, `length`: the whole file in memory (`flag` is SUSIE_INPUT_MEMORY).
 * When the data holds less than 2048 bytes, `data` points at a zero-padded
 * buffer of 2048 bytes and `length` is the real length. Fills `info` and
 * returns SUSIE_SUCCESS, or an error code.
 */
int32_t GetPictureInfo(const char* data, intptr_t length, uint32_t flag, SusiePictureInfo* info);

/*
 * GetPicture - required of "00IN" plug-ins.
 *
 * Decodes the data (given as for GetPictureInfo) into two malloc()ed blocks
 * and stores their addresses in *info_block and *bits_block:
 *
 *   info_block  a BITMAPINFOHEADER (40 bytes, little-endian, as in a BMP
 *               file: biSize 40, biWidth, biHeight (negative for rows top
 *               first), biPlanes 1, biBitCount 1, 4, 8, 16, 24 or 32,
 *               biCompression 0 (or 3 with the three colour masks right
 *               after the header for 16 and 32 bits), biSizeImage,
 *               biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant),
 *               followed by biClrUsed colour-table entries of 4 bytes (blue,
 *               green, red, 0); with biClrUsed 0, 2^biBitCount entries for 1,
 *               4 and 8 bits and none above.
 *   bits_block  the pixel rows, each padded to a multiple of 4 bytes, bottom
 *               row first unless biHeight is negative:
 *               ((biBitCount * width + 31) / 32) * 4 * |height| bytes.
 *
 * Call `progress` now and then (see SusieProgressCallback). Returns
 * SUSIE_SUCCESS, or an error code after releasing both blocks; the host
 * looks at the blocks only on success and frees them with free().
 */
int32_t GetPicture(const char* data, intptr_t length, uint32_t flag, void** info_block, void** bits_block,
                   SusieProgressCallback progress, intptr_t context);

/* Optional, never called by Velmora, listed so that a plug-in written for
 * other hosts can keep them. */
int32_t GetPreview(const char* data, intptr_t length, uint32_t flag, void** info_block, void** bits_block,
                   SusieProgressCallback progress, intptr_t context);
int32_t ConfigurationDlg(intptr_t parent_window, int32_t function);

/* Required of "00AM" (archive) plug-ins; Velmora loads them but never asks
 * them for anything. */
int32_t GetArchiveInfo(const char* data, intptr_t length, uint32_t flag, void** info);
int32_t GetFileInfo(const char* data, intptr_t length, const char* file_name, uint32_t flag, void* info);
int32_t GetFile(const char* source, intptr_t length, char* destination, uint32_t flag, SusieProgressCallback progress,
                intptr_t context);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_SUSIE_PLUGIN_H */
