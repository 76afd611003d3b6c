/*
 * Zarvo data plug-in for Kavlor: the whole binary interface between the
 * host application and the plug-in library. Plain C, usable from C and C++.
 *
 * The host reads and writes these records by byte offset. On 32-bit builds
 * (the library the host loads) the layouts have pointers of 4 bytes and no
 * gaps; on 64-bit builds they keep the field order with natural alignment.
 * Both are pinned by the static assertions at the end of this file.
 *
 * Language. A C host needs C11: char16_t comes from <uchar.h> and the layout
 * checks use _Static_assert (bool comes from <stdbool.h>, C99). Older C modes
 * work only where the compiler and C library offer both as extensions, as
 * GCC and clang with glibc or mingw-w64 do. A C++ host needs C++11 (char16_t
 * and static_assert are keywords from there on); C++98 fails.
 *
 * Threads. Every export may be called from any thread, and from several at
 * once. The plug-in starts no threads: each host callback runs on the thread
 * of the call that leads to it (see each one below).
 *
 * Re-entry. The plug-in holds no lock while it calls the host, so the host
 * may call any export, DownloadDone included, from inside any of its
 * callbacks.
 *
 * Unloading. The library may be unloaded only when no export and no
 * DownloadDone call is running and every accepted job has ended (its
 * DownloadDone call has returned). Loading it again starts afresh: no
 * bindings, no callbacks.
 */
#ifndef ZARVO_DATA_PLUGIN_H
#define ZARVO_DATA_PLUGIN_H

/* The version of this interface and of the library built with it. The build
 * stops if these disagree with the project's version in CMakeLists.txt. */
#define ZARVO_DATA_PLUGIN_VERSION_MAJOR 1
#define ZARVO_DATA_PLUGIN_VERSION_MINOR 0
#define ZARVO_DATA_PLUGIN_VERSION_PATCH 0
#define ZARVO_DATA_PLUGIN_VERSION_STRING "1.0.0"

#include <stddef.h>
#include <stdint.h>

#ifndef __cplusplus
#include <stdbool.h>
#include <uchar.h>
#endif

/* The platform's default convention for free functions, in which the caller
 * removes the arguments. Spelled out on 32-bit Windows, where a host may be
 * compiled with another default. */
#if defined(_WIN32) && !defined(_WIN64)
#define KVL_CALL __cdecl
#else
#define KVL_CALL
#endif

#if defined(ZARVO_BUILDING_PLUGIN) && !defined(_WIN32)
#define ZARVO_EXPORT __attribute__((visibility("default")))
#else
#define ZARVO_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What DataRequest returns. */
typedef enum ZarvoRequestResult {
    /* The tile addresses were built and the host's download callback
     * accepted the job: exactly one DownloadDone call for it follows. */
    ZARVO_REQUEST_STARTED = 1,
    /* No download callback is registered, or the host's download callback
     * returned 0. */
    ZARVO_REQUEST_REFUSED = -1,
    /* The request is null, or no tile covers it: zoom outside 1..21, an edge
     * that is not finite, a box west of the world, more than 65,536 tiles,
     * or a raster of more than 2^31 - 1 bytes. */
    ZARVO_REQUEST_UNSERVABLE = -2,
    /* The layer id is not bound to a layer, or the layer could not build
     * one address per tile. */
    ZARVO_REQUEST_NO_LAYER = -3,
    /* The plug-in ran out of memory; nothing was handed to the host. */
    ZARVO_REQUEST_OUT_OF_MEMORY = -4
} ZarvoRequestResult;

/* What the event callback receives as `result`. Any value not listed here is
 * the host's own non-zero DownloadDone status, passed through unchanged. */
typedef enum ZarvoEventResult {
    /* The raster is in the LayerImage. */
    ZARVO_EVENT_RASTER_READY = 0,
    /* One of the job's first tile-count images is unusable: null pixels, fewer
     * bytes than one tile, not 256 pixels wide, or not 3 or 4 bytes per pixel. */
    ZARVO_EVENT_BAD_TILE_IMAGE = -1,
    /* The images do not match the request's tiles: the image count is neither
     * the tile count nor twice it, or no tile covers the job's request (its
     * request is not one DataRequest accepted). */
    ZARVO_EVENT_TILES_MISMATCH = -2,
    /* The layer bound to the job's layer id has no coordinate transform. */
    ZARVO_EVENT_NO_TRANSFORM = -3,
    /* The plug-in ran out of memory; no raster. */
    ZARVO_EVENT_OUT_OF_MEMORY = -4
} ZarvoEventResult;

/* What the host asks for. Edges in degrees; row 0 of the raster is sampled
 * at `north`, column 0 at `west`, the last row at `south` and the last
 * column at `east`. */
typedef struct DataRequestBlock {
    int32_t zoom;          /* 1 (one tile for the world) to 21 */
    uint32_t hostWords[4]; /* the host's own; copied into the job unchanged */
    int32_t layerId;       /* bound earlier with DataInitLayer */
    uint32_t width;        /* raster columns */
    uint32_t height;       /* raster rows */
    double south;
    double west;
    double north;
    double east;
} DataRequestBlock;

/* One decoded tile: rows of `width` pixels of `bytesPerPixel` bytes, row 0 at
 * the tile's north edge. The plug-in reads tiles of 256 pixels per row and 3
 * or 4 bytes per pixel (of 4, the first 3 are used). The finished raster is
 * handed back in the same layout as a LayerImage. */
typedef struct TileImage {
    uint8_t* pixels;
    int32_t byteSize;
    int32_t width;
    int32_t height;
    int32_t bytesPerPixel;
    int32_t reserved;
} TileImage;

typedef TileImage LayerImage;

/* A download job. Outgoing (plug-in to host): `items` is an array of
 * `itemCount` pointers to zero-terminated UTF-16 tile addresses, valid only
 * while the download callback runs; the host copies what it keeps.
 * Completed (host to plug-in): the same request, and `items` is an array of
 * `itemCount` TileImage records, image k being the tile of address k. */
typedef struct DownloadJob {
    DataRequestBlock request;
    void* items;
    int32_t itemCount;
    int32_t jobWordA; /* always 1 in outgoing jobs */
    int32_t jobWordB; /* always 2 in outgoing jobs */
} DownloadJob;

/* The plug-in's completion routine, handed to the download callback with
 * each job; the host calls it exactly once for every job it accepts, and
 * never for a job it refused.
 *
 * status: 0 when every tile arrived and was decoded, the host's own non-zero
 *   code otherwise (passed to the event callback unchanged, raster empty).
 * job: the host's record of the completed job: the request exactly as the
 *   outgoing job carried it, and `items` pointing to `itemCount` TileImage
 *   records, image k being the tile of address k. Null is ignored.
 *
 * Threads: any thread, several jobs at once, and also from inside the
 * download callback before it returns. The event callback runs on this
 * thread before DownloadDone returns.
 * Pointers: the job, its images and their pixels are read only during the
 * call and stay the host's; it may free them when the call returns.
 * Events: with an event callback registered when DownloadDone runs, exactly
 * one event follows each accepted job, before DownloadDone returns. A completion whose status
 * is 0 and whose layer id is bound to no layer has no accepted job behind it
 * (bindings are never removed) and is dropped without an event; so is a null
 * job. The layer used is the one bound to the id when DownloadDone runs. */
typedef void(KVL_CALL* DownloadDoneFn)(int32_t status, DownloadJob* job);

/* The host's download function, registered with DataSetDownloadCallback.
 *
 * job: the outgoing job: the request, and `items` pointing to `itemCount`
 *   zero-terminated UTF-16 tile addresses.
 * done: the completion routine to call once for this job, now or later.
 * context: the pointer registered with this function, unchanged.
 * Returns non-zero to accept the job, 0 to refuse it (DataRequest then
 *   returns ZARVO_REQUEST_REFUSED and the host must not call `done`).
 *
 * Threads: runs inside DataRequest, on its thread.
 * Pointers: the job, its address array and the texts belong to the plug-in
 * and are valid only while this function runs; the host copies what it
 * keeps. The job record given to `done` is the host's own. */
typedef int32_t(KVL_CALL* DownloadCallback)(DownloadJob* job, DownloadDoneFn done, void* context);

/* The host's event function, registered with DataSetEventCallback: receives
 * every finished or failed job.
 *
 * result: a ZarvoEventResult, or the host's non-zero DownloadDone status.
 * job: the job record the host passed to DownloadDone.
 * image: the raster when result is ZARVO_EVENT_RASTER_READY, otherwise all
 *   zero (null pixels).
 * context: the pointer registered with this function, unchanged.
 *
 * Threads: runs inside DownloadDone, on its thread.
 * Pointers: the LayerImage and its pixels belong to the plug-in and are
 * valid only while this function runs; the host copies what it keeps. The
 * job is the host's own record, the one it passed to DownloadDone.
 * Memory: when this returns, the plug-in frees the raster or keeps it for a
 * later raster of the same size, so that a host asking again and again for
 * its view's size does not pay for fresh pages each time. It keeps at most 4
 * rasters, 64 MiB in all, and frees them when the library is unloaded. */
typedef void(KVL_CALL* EventCallback)(int32_t result, DownloadJob* job, LayerImage* image, void* context);

/* What KvlPluginInfo describes. Texts are static zero-terminated UTF-16. */
typedef struct PluginDescriptor {
    const char16_t* type;
    const char16_t* name;
    const char16_t* description;
    const char16_t* vendor;
    const char16_t* webAddress;
    const char16_t* contactEmail;
    const char16_t* legalNotice;
    int32_t number;    /* always 2 */
    int32_t reserved1; /* always 0 */
    int32_t reserved2; /* always 0 */
} PluginDescriptor;

/* Export ordinals, in this order: 1 DataInitLayer, 2 DataRequest,
 * 3 DataSetDownloadCallback, 4 DataSetEventCallback, 5 KvlPluginInfo. */

/* Binds `layerId` (any value) to the layer named `name`: "map", "aerial" or
 * "hybrid", with A to Z read as a to z. Binding an id again replaces its
 * layer; several ids may share one. A job already accepted is finished by
 * the layer bound to its id when its DownloadDone runs.
 *
 * name: zero-terminated UTF-16, read only during the call.
 * Returns true when bound. False, with every binding left as it was, when
 *   `name` is null or names no layer, or when memory runs out.
 * Threads: any, concurrently with every export; may be called from inside
 *   the host's callbacks. */
ZARVO_EXPORT bool KVL_CALL DataInitLayer(const char16_t* name, int32_t layerId);

/* Lists the tiles covering the request, builds their addresses and hands
 * them as one job to the download callback.
 *
 * request: read only during the call; copied into the job.
 * Returns ZARVO_REQUEST_STARTED when the download callback accepted the job,
 *   otherwise the ZarvoRequestResult that says why not; then no DownloadDone
 *   call and no event follow.
 * Threads: any, concurrently with every export; may be called from inside
 *   the host's callbacks.
 * Re-entry: before it returns, the download callback runs on this thread,
 *   and if the host completes the job there, DownloadDone and the event
 *   callback too. */
ZARVO_EXPORT int32_t KVL_CALL DataRequest(const DataRequestBlock* request);

/* Registers the download function and the context it is to receive; a null
 * `fn` removes it (DataRequest then refuses every request). The context is
 * never read by the plug-in, only handed back.
 *
 * Threads: any, concurrently with every export. Every call of the function
 * gets the context registered with it, never another registration's. A
 * DataRequest running when the host registers again may still call the
 * previous function with the previous context, so the host keeps an old
 * context valid until the calls running then have returned. */
ZARVO_EXPORT void KVL_CALL DataSetDownloadCallback(DownloadCallback fn, void* context);

/* Registers the event function and the context it is to receive; a null
 * `fn` removes it (jobs still complete, their rasters are freed unseen).
 * The context is never read by the plug-in, only handed back.
 *
 * Threads: any, concurrently with every export. Every call of the function
 * gets the context registered with it, never another registration's. The
 * event of a job goes to the registration in place when its DownloadDone
 * runs; a DownloadDone running when the host registers again may still call
 * the previous function with the previous context, so the host keeps an old
 * context valid until the calls running then have returned. */
ZARVO_EXPORT void KVL_CALL DataSetEventCallback(EventCallback fn, void* context);

/* Describes the plug-in. Returns the same record on every call, valid until
 * the library is unloaded; each call puts back any field the host changed.
 * The texts are static.
 *
 * Threads: any, concurrently with every export. Hosts may read the record
 * while other threads call KvlPluginInfo: a call writes only a field that
 * differs from the description, so it never writes a record the host left
 * as it was. */
ZARVO_EXPORT const PluginDescriptor* KVL_CALL KvlPluginInfo(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
#define ZARVO_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZARVO_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

ZARVO_STATIC_ASSERT(sizeof(DataRequestBlock) == 64, "request size");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, hostWords) == 4, "hostWords offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, layerId) == 20, "layerId offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, width) == 24, "width offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, height) == 28, "height offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, south) == 32, "south offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, west) == 40, "west offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, north) == 48, "north offset");
ZARVO_STATIC_ASSERT(offsetof(DataRequestBlock, east) == 56, "east offset");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, items) == 64, "items offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, pixels) == 0, "pixels offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, type) == 0, "type offset");

#if UINTPTR_MAX == 0xFFFFFFFFu
ZARVO_STATIC_ASSERT(sizeof(DownloadJob) == 80, "job size");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, itemCount) == 68, "itemCount offset");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, jobWordA) == 72, "jobWordA offset");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, jobWordB) == 76, "jobWordB offset");
ZARVO_STATIC_ASSERT(sizeof(TileImage) == 24, "image size");
ZARVO_STATIC_ASSERT(offsetof(TileImage, byteSize) == 4, "byteSize offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, width) == 8, "image width offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, height) == 12, "image height offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, bytesPerPixel) == 16, "bytesPerPixel offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, reserved) == 20, "reserved offset");
ZARVO_STATIC_ASSERT(sizeof(PluginDescriptor) == 40, "descriptor size");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, legalNotice) == 24, "legalNotice offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, number) == 28, "number offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, reserved1) == 32, "reserved1 offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, reserved2) == 36, "reserved2 offset");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
ZARVO_STATIC_ASSERT(sizeof(DownloadJob) == 88, "job size");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, itemCount) == 72, "itemCount offset");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, jobWordA) == 76, "jobWordA offset");
ZARVO_STATIC_ASSERT(offsetof(DownloadJob, jobWordB) == 80, "jobWordB offset");
ZARVO_STATIC_ASSERT(sizeof(TileImage) == 32, "image size");
ZARVO_STATIC_ASSERT(offsetof(TileImage, byteSize) == 8, "byteSize offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, width) == 12, "image width offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, height) == 16, "image height offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, bytesPerPixel) == 20, "bytesPerPixel offset");
ZARVO_STATIC_ASSERT(offsetof(TileImage, reserved) == 24, "reserved offset");
ZARVO_STATIC_ASSERT(sizeof(PluginDescriptor) == 72, "descriptor size");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, legalNotice) == 48, "legalNotice offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, number) == 56, "number offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, reserved1) == 60, "reserved1 offset");
ZARVO_STATIC_ASSERT(offsetof(PluginDescriptor, reserved2) == 64, "reserved2 offset");
#else
#error "only 32-bit and 64-bit builds are laid out"
#endif

#endif /* ZARVO_DATA_PLUGIN_H */
