/* A host built against an installed plug-in: links the library, renders one
 * small raster from plain grey tiles and checks every byte of it. Exits 0
 * only if the raster came back complete and the header's version is the
 * one the package (CMake or pkg-config) announced. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zarvo_data_plugin.h>

#define GREY 128

static uint8_t grey[256 * 256 * 3];

typedef struct Outcome {
    int32_t result;
    int32_t width;
    int32_t height;
    int all_grey;
} Outcome;

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
    Outcome* outcome = context;
    (void)job;
    outcome->result = result;
    if (result != ZARVO_EVENT_RASTER_READY || image == NULL || image->pixels == NULL) return;
    outcome->width = image->width;
    outcome->height = image->height;
    outcome->all_grey = 1;
    for (int32_t i = 0; i < image->byteSize; ++i) {
        if (image->pixels[i] != GREY) outcome->all_grey = 0;
    }
}

int main(void) {
    Outcome outcome = {1, 0, 0, 0};
    DataRequestBlock request;
    const PluginDescriptor* info = KvlPluginInfo();
    int32_t started;

    printf("header %s, package %s\n", ZARVO_DATA_PLUGIN_VERSION_STRING, ZARVO_PACKAGE_VERSION);
    if (strcmp(ZARVO_DATA_PLUGIN_VERSION_STRING, ZARVO_PACKAGE_VERSION) != 0) {
        fprintf(stderr, "the installed header and package disagree on the version\n");
        return 1;
    }
    if (info == NULL || info->legalNotice == NULL) {
        fprintf(stderr, "KvlPluginInfo gave no legal notice\n");
        return 1;
    }
    memset(grey, GREY, sizeof grey);
    DataSetDownloadCallback(on_download, NULL);
    DataSetEventCallback(on_event, &outcome);
    if (!DataInitLayer(u"aerial", 7)) {
        fprintf(stderr, "DataInitLayer(aerial) failed\n");
        return 1;
    }
    memset(&request, 0, sizeof request);
    request.zoom = 4;
    request.layerId = 7;
    request.width = 64;
    request.height = 48;
    request.west = -10.0;
    request.east = 30.0;
    request.south = 35.0;
    request.north = 60.0;
    started = DataRequest(&request);
    if (started != ZARVO_REQUEST_STARTED) {
        fprintf(stderr, "DataRequest returned %d\n", (int)started);
        return 1;
    }
    printf("result %d: %d x %d raster, %s\n", (int)outcome.result, (int)outcome.width, (int)outcome.height,
           outcome.all_grey ? "all grey" : "NOT all grey");
    return outcome.result == ZARVO_EVENT_RASTER_READY && outcome.width == 64 && outcome.height == 48 &&
                   outcome.all_grey
               ? 0
               : 1;
}
