/* How large a request a 32-bit host can complete: sends one request and
 * reports how it ended. The host keeps every decoded tile of a job in memory
 * until it calls DownloadDone, as a real host must.
 *
 *   address_space_probe raster SIDE   a SIDE x SIDE raster from few tiles
 *                                     (all tiles share one grey image)
 *   address_space_probe tiles SIDE    a SIDE x SIDE raster at the tiles' own
 *                                     resolution, each tile decoded apart
 *   address_space_probe held COUNT    a 256 x 256 raster over COUNT tiles in
 *                                     a row, each tile decoded apart
 *   ... [--expect-out-of-memory]      exit 0 only if the plug-in reported
 *                                     ZARVO_EVENT_OUT_OF_MEMORY instead, and
 *                                     then served a small request
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zarvo_data_plugin.h>

#define TILE_BYTES (256 * 256 * 3)

static uint8_t shared_tile[TILE_BYTES];
static int separate_tiles;

static int32_t KVL_CALL on_download(DownloadJob* job, DownloadDoneFn done, void* context) {
    TileImage* tiles = calloc((size_t)job->itemCount, sizeof *tiles);
    DownloadJob completed = *job;
    int32_t held = 0;
    (void)context;
    if (tiles == NULL) return 0;
    for (; held < job->itemCount; ++held) {
        uint8_t* pixels = shared_tile;
        if (separate_tiles) {
            pixels = malloc(TILE_BYTES);
            if (pixels == NULL) break;
            memset(pixels, 128, TILE_BYTES);
        }
        tiles[held].pixels = pixels;
        tiles[held].byteSize = TILE_BYTES;
        tiles[held].width = 256;
        tiles[held].height = 256;
        tiles[held].bytesPerPixel = 3;
    }
    completed.items = tiles;
    if (held < job->itemCount) {
        printf("the host ran out of memory at tile %d of %d\n", (int)held, (int)job->itemCount);
        done(1, &completed); /* the host's own failure code */
    } else {
        done(0, &completed);
    }
    if (separate_tiles) {
        for (int32_t i = 0; i < held; ++i) free(tiles[i].pixels);
    }
    free(tiles);
    return 1;
}

static void KVL_CALL on_event(int32_t result, DownloadJob* job, LayerImage* image, void* context) {
    *(int32_t*)context = result;
    if (result == ZARVO_EVENT_RASTER_READY) {
        printf("%d x %d raster (%d bytes) from %d tiles\n", (int)image->width, (int)image->height,
               (int)image->byteSize, (int)job->itemCount);
    } else {
        printf("event result %d for %u x %u from %d tiles\n", (int)result, (unsigned)job->request.width,
               (unsigned)job->request.height, (int)job->itemCount);
    }
}

int main(int argc, char** argv) {
    int32_t outcome = 1;
    DataRequestBlock request;
    long side;
    int expect_out_of_memory = argc == 4 && strcmp(argv[3], "--expect-out-of-memory") == 0;
    int32_t started;

    if ((argc != 3 && !expect_out_of_memory) || (strcmp(argv[1], "raster") != 0 && strcmp(argv[1], "tiles") != 0 &&
                                                 strcmp(argv[1], "held") != 0)) {
        fprintf(stderr, "usage: address_space_probe raster|tiles|held SIDE|COUNT [--expect-out-of-memory]\n");
        return 2;
    }
    side = strtol(argv[2], NULL, 10);
    if (side < 1 || side > 65535) {
        fprintf(stderr, "address_space_probe: %s is not 1 to 65535\n", argv[2]);
        return 2;
    }
    memset(shared_tile, 128, sizeof shared_tile);
    DataSetDownloadCallback(on_download, NULL);
    DataSetEventCallback(on_event, &outcome);
    if (!DataInitLayer(u"map", 1)) return 1;

    memset(&request, 0, sizeof request);
    request.layerId = 1;
    request.width = (uint32_t)side;
    request.height = (uint32_t)side;
    if (strcmp(argv[1], "raster") == 0) {
        request.zoom = 3;
        request.west = -170.0;
        request.east = 170.0;
        request.south = -80.0;
        request.north = 80.0;
    } else if (strcmp(argv[1], "held") == 0) {
        /* Zoom 17 is 65,536 tiles around the world; the row just north of
         * the equator. */
        separate_tiles = 1;
        request.zoom = 17;
        request.width = 256;
        request.height = 256;
        request.west = -180.0 + 1e-9;
        request.east = -180.0 + 360.0 * (double)side / 65536.0 - 1e-9;
        request.south = 0.0001;
        request.north = 0.0002;
    } else {
        /* Zoom 10 is 131,072 pixels around the world. */
        separate_tiles = 1;
        request.zoom = 10;
        request.west = 0.0;
        request.east = 360.0 * (double)side / 131072.0;
        request.south = 0.0;
        request.north = 0.85 * request.east;
    }
    started = DataRequest(&request);
    if (started != ZARVO_REQUEST_STARTED) {
        printf("DataRequest returned %d\n", (int)started);
        return 1;
    }
    if (expect_out_of_memory) {
        if (outcome != ZARVO_EVENT_OUT_OF_MEMORY) return 1;
        separate_tiles = 0;
        request.width = 64;
        request.height = 64;
        outcome = 1;
        return DataRequest(&request) == ZARVO_REQUEST_STARTED && outcome == ZARVO_EVENT_RASTER_READY ? 0 : 1;
    }
    return outcome == ZARVO_EVENT_RASTER_READY ? 0 : 1;
}
