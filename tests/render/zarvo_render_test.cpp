// zarvo-render end to end: the real plug-in, real tile files (the bundled
// demo set) fetched from a directory and over HTTP from a loopback server.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/bounded_file.h"
#include "host/image_decoding.h"
#include "host/plugin_host.h"
#include "host/plugin_library.h"
#include "host/tile_source.h"
#include "projection/zarvo_coord_transform.h"
#include "render/render_host.h"
#include "tests/host/loopback_server.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/tile_fixtures.h"

namespace {

namespace fs = std::filesystem;

// Europe at zoom 6: about one tile pixel per raster pixel across.
constexpr double kWest = -12, kSouth = 34, kEast = 32, kNorth = 62;
constexpr int kWidth = 1000, kHeight = 760;
const std::string kBox = "-12,34,32,62";
const std::string kSize = "1000x760";

struct RenderRun {
    int exitCode;
    std::string errors;
};

RenderRun Render(const std::string& arguments) {
    const fs::path errors = Scratch("stderr.txt");
    const std::string command = std::string(ZARVO_RENDER) + " --plugin " + ZARVO_PLUGIN_PATH + " --quiet " +
                                arguments + " 2>" + errors.string() + " >/dev/null";
    const int status = std::system(command.c_str());
    std::ifstream in(errors);
    std::stringstream text;
    text << in.rdbuf();
    return RenderRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

std::string MapArguments(const std::string& tiles, const fs::path& out, const std::string& layer = "map") {
    return "--overwrite --layer " + layer + " --zoom 6 --bbox " + kBox + " --size " + kSize + " --tiles " + tiles + " --out " +
           out.string();
}

RgbImage Load(const fs::path& file) {
    std::vector<uint8_t> bytes;
    RgbImage image;
    std::string error;
    EXPECT_EQ(ReadBoundedFile(file.string(), size_t{1} << 30, bytes, error), FileReadStatus::Read) << error;
    EXPECT_TRUE(DecodeImage(bytes, ImageLimits{32768, 32768}, image, error)) << error;
    return image;
}

// The loopback tile server, stopped when the test ends.
class TileServer : public LoopbackServer {
public:
    explicit TileServer(const std::string& directory)
        : LoopbackServer(std::string(ZARVO_SOURCE_DIR) + "/scripts/serve_tiles.py", directory) {}
};

TEST(ZarvoRenderTest, DirectoryAndHttpGiveTheSameRaster) {
    const fs::path fromDir = Scratch("dir.png");
    const fs::path fromHttp = Scratch("http.png");
    for (const char* layer : {"map", "aerial"}) {
        ASSERT_EQ(Render(MapArguments(ZARVO_DEMO_TILES, fromDir, layer)).exitCode, 0);
        TileServer server(ZARVO_DEMO_TILES);
        ASSERT_GT(server.port, 0);
        const RenderRun run = Render(MapArguments(server.Address(), fromHttp, layer));
        ASSERT_EQ(run.exitCode, 0) << run.errors;
        const RgbImage a = Load(fromDir);
        const RgbImage b = Load(fromHttp);
        EXPECT_EQ(a.width, kWidth);
        EXPECT_EQ(a.height, kHeight);
        EXPECT_TRUE(a.pixels == b.pixels) << layer;
    }
}

bool IsGraticule(const uint8_t* p) {
    return p[0] > 150 && p[0] - p[1] > 60 && p[0] - p[2] > 60;  // the map layer's red lines
}

// Where along one axis a graticule line lies in the raster: the centre of
// the lines' pixels within 20 pixels of `predicted`, and how many pixels
// the fullest line of that band has (a straight line fills its whole line).
struct LineFound {
    double centre;
    int fullest;
};

template <typename CountAt>
LineFound FindLine(double predicted, int extent, CountAt countAt) {
    double weighted = 0, total = 0;
    int fullest = 0;
    for (int k = std::max(0, static_cast<int>(predicted) - 20); k < std::min(extent, static_cast<int>(predicted) + 21); ++k) {
        const int count = countAt(k);
        weighted += static_cast<double>(k) * count;
        total += count;
        fullest = std::max(fullest, count);
    }
    return LineFound{total > 0 ? weighted / total : -1, fullest};
}

// Meridians and parallels land on the raster columns and rows their
// longitudes and latitudes predict, each as one straight line.
TEST(ZarvoRenderTest, GraticuleFallsWhereItsDegreesPredict) {
    const fs::path out = Scratch("graticule.png");
    ASSERT_EQ(Render(MapArguments(ZARVO_DEMO_TILES, out)).exitCode, 0);
    const RgbImage image = Load(out);
    ASSERT_EQ(image.width, kWidth);
    const auto red = [&](int x, int y) {
        return IsGraticule(&image.pixels[(static_cast<size_t>(y) * kWidth + x) * 3]) ? 1 : 0;
    };
    const double stepX = (kEast - kWest) / (kWidth - 1);
    for (int lon = -10; lon <= 30; lon += 10) {
        const double predicted = (lon - kWest) / stepX;
        const LineFound line = FindLine(predicted, kWidth, [&](int x) {
            int count = 0;
            for (int y = 0; y < kHeight; ++y) count += red(x, y);
            return count;
        });
        EXPECT_NEAR(line.centre, predicted, 1.0) << "meridian " << lon;
        EXPECT_EQ(line.fullest, kHeight) << "meridian " << lon << " is not one straight line";
    }
    const double stepY = (kNorth - kSouth) / (kHeight - 1);
    for (int lat = 40; lat <= 60; lat += 10) {
        const double predicted = (kNorth - lat) / stepY;
        const LineFound line = FindLine(predicted, kHeight, [&](int y) {
            int count = 0;
            for (int x = 0; x < kWidth; ++x) count += red(x, y);
            return count;
        });
        EXPECT_NEAR(line.centre, predicted, 1.0) << "parallel " << lat;
        EXPECT_EQ(line.fullest, kWidth) << "parallel " << lat << " is not one straight line";
    }
}

std::vector<std::string> RequestUrls() {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    std::vector<std::string> urls;
    for (const TileKey& key : RequestTiles(map, MakeRequest(6, kWest, kSouth, kEast, kNorth, kWidth, kHeight))) {
        urls.push_back(Narrow(map.TileUrl(key)));
    }
    return urls;
}

// With the plug-in's own positions, a box one request draws is the raster
// the application gets for it, to the bit.
TEST(ZarvoRenderTest, PluginGridIsTheApplicationsRaster) {
    const fs::path out = Scratch("plugin-grid.png");
    const RenderRun run = Render("--plugin-grid " + MapArguments(ZARVO_DEMO_TILES, out, "aerial"));
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    std::string error;
    const std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
    ASSERT_TRUE(library) << error;
    const std::unique_ptr<TileSource> source = MakeTileSource(ZARVO_DEMO_TILES, error);
    ASSERT_TRUE(source) << error;
    PluginHost host(library->Api(), CompleteOn::WorkerThread);
    ASSERT_TRUE(host.Bind("aerial", 2));
    DataRequestBlock request = MakeRequest(6, kWest, kSouth, kEast, kNorth, kWidth, kHeight);
    request.layerId = 2;
    IntakeReport report;
    const RenderOutcome application = host.Render(request, RenderTileProvider(*source, RenderSettings{}, request, report));
    ASSERT_EQ(application.failure, RenderFailure::None) << application.message;
    EXPECT_TRUE(Load(out).pixels == application.raster.pixels);
}

TEST(ZarvoRenderTest, MissingOrBrokenTileIsNamed) {
    const fs::path empty = Scratch("empty-tiles");
    fs::create_directories(empty);
    const std::string url = RequestUrls().at(0);
    const std::string relative = url.substr(url.find("tms1.0.0/") + 9);
    const std::string place = " (level 5, column 14, row 8 from the north): ";
    RenderRun run = Render("--missing fail " + MapArguments(empty.string(), Scratch("x.png")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("cannot fetch tile " + (empty / relative).string() + place + "no such file"),
              std::string::npos)
        << run.errors;

    TileServer server(empty.string());
    run = Render("--missing fail " + MapArguments(server.Address(), Scratch("x.png")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("cannot fetch tile " + url + place + "HTTP status 404"), std::string::npos) << run.errors;

    // Every tile present, but the first one not an image.
    const fs::path broken = Scratch("broken-tiles");
    for (const std::string& tile : RequestUrls()) {
        const std::string relative = tile.substr(tile.find("tms1.0.0/") + 9);
        fs::create_directories((broken / relative).parent_path());
        fs::copy_file(fs::path(ZARVO_DEMO_TILES) / relative, broken / relative, fs::copy_options::overwrite_existing);
    }
    std::ofstream(broken / relative) << "not a picture";
    run = Render(MapArguments(broken.string(), Scratch("x.png")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("cannot decode tile " + (broken / relative).string() + place), std::string::npos)
        << run.errors;
}

TEST(ZarvoRenderTest, BadRequestsFailWithOneClearLine) {
    const std::string tiles = ZARVO_DEMO_TILES;
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message;
    } cases[] = {
        {MapArguments(tiles, Scratch("x.png"), "roads"), 2, "unknown layer 'roads'"},
        {"--layer map --zoom 0 --bbox 0,0,1,1 --size 10x10 --tiles " + tiles + " --out x.png", 2,
         "--zoom wants 1 to 21 or auto, not '0'"},
        {"--layer map --zoom 6 --bbox 0,0,1 --size 10x10 --tiles " + tiles + " --out x.png", 2, "--bbox wants"},
        {"--layer map --zoom 6 --bbox 0,0,1,1 --size 0x10 --tiles " + tiles + " --out x.png", 2, "--size wants"},
        {"--layer map --zoom 6 --bbox 0,0,1,1 --size 10x10 --out x.png", 2, "--tiles is missing"},
        {"--layer map --colour red", 2, "unknown option '--colour'"},
    };
    for (const Case& c : cases) {
        const RenderRun run = Render(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
    }
}

}  // namespace
