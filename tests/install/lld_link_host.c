/* A host linked the way Microsoft's tool chain links one: by lld-link, with
 * no C runtime start-up code, against zarvo_data_plugin.lib (short import
 * records) for the plug-in and system import libraries for msvcrt and
 * kernel32. Windows' loader binds the five exports by name when the program
 * starts; the program renders one small raster from grey tiles.
 *
 * The entry point is host_entry, not main: no start-up code runs before it,
 * so it uses nothing that needs it and ends the process itself. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <zarvo_data_plugin.h>

#define GREY 128

static uint8_t grey[256 * 256 * 3];
static int32_t raster_result = 1;
static int raster_ok;

static int32_t KVL_CALL on_download(DownloadJob* job, DownloadDoneFn done, void* context) {
    TileImage* tiles = calloc((size_t)job->itemCount, sizeof *tiles);
    DownloadJob completed = *job;
    (void)context;
    if (tiles == NULL) return 0;
    for (int32_t i = 0; i < job->itemCount; ++i) {
        tiles[i].pixels = grey;
        tiles[i].byteSize = (int32_t)sizeof grey;
        tiles[i].width = 256;
        tiles[i].height = 256;
        tiles[i].bytesPerPixel = 3;
    }
    completed.items = tiles;
    done(0, &completed);
    free(tiles);
    return 1;
}

static void KVL_CALL on_event(int32_t result, DownloadJob* job, LayerImage* image, void* context) {
    (void)job;
    (void)context;
    raster_result = result;
    if (result != ZARVO_EVENT_RASTER_READY || image->width != 40 || image->height != 30) return;
    raster_ok = 1;
    for (int32_t i = 0; i < image->byteSize; ++i) {
        if (image->pixels[i] != GREY) raster_ok = 0;
    }
}

static int run(void) {
    DataRequestBlock request;
    const PluginDescriptor* info = KvlPluginInfo();
    if (info == NULL || info->number != 2) {
        printf("KvlPluginInfo: no descriptor\n");
        return 1;
    }
    memset(grey, GREY, sizeof grey);
    DataSetDownloadCallback(on_download, NULL);
    DataSetEventCallback(on_event, NULL);
    if (!DataInitLayer(u"hybrid", 3)) {
        printf("DataInitLayer failed\n");
        return 1;
    }
    memset(&request, 0, sizeof request);
    request.zoom = 3;
    request.layerId = 3;
    request.width = 40;
    request.height = 30;
    request.west = 100.0;
    request.east = 150.0;
    request.south = -45.0;
    request.north = -10.0;
    if (DataRequest(&request) != ZARVO_REQUEST_STARTED) {
        printf("DataRequest was not started\n");
        return 1;
    }
    printf("header version %s; result %d, 40 x 30 raster %s\n", ZARVO_DATA_PLUGIN_VERSION_STRING, (int)raster_result,
           raster_ok ? "all grey" : "wrong");
    return raster_result == ZARVO_EVENT_RASTER_READY && raster_ok ? 0 : 1;
}

void host_entry(void) {
    int status = run();
    fflush(stdout);
    ExitProcess((UINT)status);
}
