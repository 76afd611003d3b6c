// zarvo-render as a careless user and a hostile tile source meet it: every
// case ends in one clear line and the right exit status.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "projection/zarvo_coord_transform.h"
#include "render/progress.h"
#include "tests/host/hostile_tiles.h"
#include "tests/host/loopback_server.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/tile_fixtures.h"

namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int exitCode;
    std::string out;
    std::string errors;
};

std::string Slurp(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program as a user would, from `directory`, with no flag added.
ProgramRun RenderIn(const std::string& directory, const std::string& arguments) {
    const fs::path out = Scratch("stdout.txt"), errors = Scratch("stderr.txt");
    const std::string command = "cd " + directory + " && " + ZARVO_RENDER + " " + arguments + " >" + out.string() +
                                " 2>" + errors.string() + " </dev/null";
    const int status = std::system(command.c_str());
    return ProgramRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(errors)};
}

ProgramRun Render(const std::string& arguments) {
    return RenderIn(ScratchDirectory().string(), arguments);
}

// zarvo-render started and left running, its standard error into a file;
// killed when the object goes, unless it was stopped.
class RunningRender {
public:
    RunningRender(const std::vector<std::string>& arguments, const fs::path& errors) {
        std::vector<std::string> words = {ZARVO_RENDER};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Stop signals as a shell gives them, whatever this test inherited.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
        posix_spawnattr_setsigdefault(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        // A stop ends the program wherever its drawing threads are, on
        // purpose; ThreadSanitizer would call one that had already ended,
        // not yet joined, a leak.
        std::vector<std::string> settings;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (std::string(*variable).rfind("TSAN_OPTIONS=", 0) != 0) settings.emplace_back(*variable);
        }
        const char* tsanOptions = std::getenv("TSAN_OPTIONS");
        settings.push_back(std::string("TSAN_OPTIONS=") + (tsanOptions != nullptr ? tsanOptions : "") +
                           ":report_thread_leaks=0");
        std::vector<char*> environment;
        for (std::string& setting : settings) environment.push_back(setting.data());
        environment.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environment.data()) != 0) pid = 0;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&files);
    }
    ~RunningRender() {
        if (pid > 0) Stop(SIGKILL);
    }
    RunningRender(const RunningRender&) = delete;
    RunningRender& operator=(const RunningRender&) = delete;

    // Its exit status once `signal` ended it; -1 when it did not exit (the
    // signal killed it).
    int Stop(int signal) {
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid = 0;
};

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A small request: central Europe at zoom 3, a handful of tiles.
const std::string kSmall = "--layer map --zoom 3 --bbox 0,40,20,55 --size 200x150 --overwrite";

std::vector<std::string> SmallRequestUrls() {
    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    std::vector<std::string> urls;
    for (const TileKey& key : RequestTiles(map, MakeRequest(3, 0, 40, 20, 55, 200, 150))) {
        urls.push_back(Narrow(map.TileUrl(key)));
    }
    return urls;
}

std::string RelativePath(const std::string& url) {
    return url.substr(url.find("tms1.0.0/") + 9);
}

// The small request's tiles, copied, with the first one's file removed so
// that a test can put something else in its place.
fs::path TileSetWithHole(const std::string& name) {
    const fs::path set = Scratch(name);
    for (const std::string& url : SmallRequestUrls()) {
        const std::string relative = RelativePath(url);
        fs::create_directories((set / relative).parent_path());
        fs::copy_file(fs::path(ZARVO_DEMO_TILES) / relative, set / relative, fs::copy_options::overwrite_existing);
    }
    fs::remove(set / RelativePath(SmallRequestUrls().at(0)));
    return set;
}

void WriteBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

TEST(ZarvoRenderCliTest, HelpAndVersionNeedNothingElse) {
    ProgramRun run = Render("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("Usage: zarvo-render", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("reads the tile service's\n                      zoom Z-1"), std::string::npos);
    EXPECT_TRUE(run.errors.empty()) << run.errors;
    run = Render("--zoom 0 --version");  // wins over any mistake
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "zarvo-render 1.0.0\n");
}

TEST(ZarvoRenderCliTest, BadArgumentsAreRefusedWithOneLineAndStatus2) {
    const std::string tiles = " --tiles " + std::string(ZARVO_DEMO_TILES);
    // What only a regular file may be replaced by: never these, --overwrite
    // or not; a link only when asked.
    mkfifo(Scratch("fifo.tif").c_str(), 0600);
    fs::create_directories(Scratch("folder.tif"));
    std::ofstream(Scratch("target.tif")) << "kept";
    fs::create_symlink(Scratch("target.tif"), Scratch("link.tif"));
    struct Case {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"--layer map --zoom 3 --bbox 0,10,5,95 --size 20x20 --out x.tif" + tiles, "latitudes lie within -90 to 90"},
        {"--layer map --zoom 3 --bbox 0,10,5,10 --size 20x20 --out x.tif" + tiles, "WEST != EAST and SOUTH < NORTH"},
        {"--layer map --zoom 3 --bbox 0,10,400,20 --size 20x20 --out x.tif" + tiles, "span at most 360 degrees"},
        {"--layer map --zoom 22 --bbox 0,10,5,20 --size 20x20 --out x.tif" + tiles, "--zoom wants 1 to 21 or auto"},
        {"--layer nope --zoom 3 --bbox 0,10,5,20 --size 20x20 --out x.tif" + tiles, "unknown layer 'nope'"},
        {"--layer map --zoom 3 -te 0 10 5 20 --out x.tif" + tiles, "-te wants one of -ts W H and -tr XRES YRES"},
        {"--layer map --zoom 3 -te 0 10 5 --out x.tif" + tiles, "-te wants four finite numbers"},
        {kSmall + " --out x.xyz" + tiles, "--out x.xyz: the extension names no format; -of names one"},
        {kSmall + " --out x.tif -of Nothing" + tiles, "-of Nothing: GDAL has no raster driver"},
        {kSmall + " --out x" + tiles, "--out x: the extension names no format"},
        {kSmall + " --out x.tif --missing maybe" + tiles, "--missing wants blank or fail, not 'maybe'"},
        {kSmall + " --out x.tif --tiles ftp://h/{z}/{x}/{y}", "tiles come from a directory or over http or https"},
        {kSmall + " --out x.tif --tiles " + std::string(ZARVO_SOURCE_DIR) + "/README.md", "is no MBTiles file"},
        {kSmall + " --out x.tif --tiles /no/such/dir", "tile directory '/no/such/dir' does not exist"},
        {kSmall + " --out x.tif --max-memory 8" + tiles, "--max-memory wants megabytes from 64 to"},
        {kSmall + " --out fifo.tif" + tiles, "--out fifo.tif is a named pipe, not a file"},
        {kSmall + " --out folder.tif" + tiles, "--out folder.tif is a directory, not a file"},
        {kSmall + " --out link.tif" + tiles, "--out link.tif is a symbolic link; --follow-link writes the file"},
        // Formats that write no file, or not one that stands alone.
        {kSmall + " --out x.vrt -of VRT" + tiles, "-of VRT writes a file that refers to the pixels of another"},
        {kSmall + " --out x.mem -of MEM" + tiles, "-of MEM writes no file"},
        {kSmall + " --out x.img -of ENVI" + tiles, "-of ENVI writes several files (x.hdr, x.img)"},
        {"--layer map --zoom 3 --bbox 0,40,20,55 --size 1x150 --out x.tif" + tiles, "--size wants"},
        // Both programs' rules: an empty --opt= value is no value, a flag
        // takes none, a GDAL-style name has one dash only, and a value cut
        // off at the end is named.
        {kSmall + " --tiles= --out x.tif", "--tiles needs a value"},
        {kSmall + " --out x.tif --plugin-grid=no" + tiles, "--plugin-grid takes no value"},
        {"--layer map --zoom 3 --te 0 10 5 20 -ts 20 20 --out x.tif" + tiles, "unknown option '--te'"},
        {kSmall + tiles + " --out", "--out needs a value"},
        // Pyramids: what goes with --levels, and what the tiles hold.
        {"--layer map --levels 0-3 --out x.mbtiles" + tiles, "--tile-matrix-set is missing"},
        {"--layer map --levels 3-1 --tile-matrix-set WebMercatorQuad --out x.mbtiles" + tiles,
         "--levels wants levels A-B with 0 <= A <= B <= 20"},
        {"--layer map --levels 0-6 --tile-matrix-set WorldCRS84Quad --out x.gpkg" + tiles,
         "the tiles hold levels 0 to 5 of WorldCRS84Quad"},
        {"--layer map --zoom 3 --levels 0-2 --tile-matrix-set WebMercatorQuad --out x.mbtiles" + tiles,
         "--zoom goes with a raster"},
        {"--layer map --levels 0-2 --tile-matrix-set WebMercatorQuad -te 30 10 20 20 --out x.mbtiles" + tiles,
         "a pyramid's area lies within -180,-90,180,90, with WEST < EAST"},
        {"--layer map --levels 0-2 --tile-matrix-set WebMercatorQuad --tile-size 300 --out x.mbtiles" + tiles,
         "--tile-size wants 256 or 512"},
        {"--merge a.mbtiles b.mbtiles --layer map --out x.mbtiles", "only --out, --overwrite and --quiet go with it"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = Render(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_EQ(Lines(run.errors), 1u) << run.errors;
        EXPECT_NE(run.errors.find("(zarvo-render --help tells more)"), std::string::npos) << run.errors;
    }
    EXPECT_TRUE(fs::is_fifo(Scratch("fifo.tif")) && fs::is_directory(Scratch("folder.tif")));
    EXPECT_EQ(Slurp(Scratch("link.tif")), "kept");
    const ProgramRun followed = Render(kSmall + " --follow-link --out link.tif" + tiles);
    EXPECT_EQ(followed.exitCode, 0) << followed.errors;
    EXPECT_TRUE(fs::is_symlink(Scratch("link.tif")));
    EXPECT_NE(Slurp(Scratch("target.tif")), "kept");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(ScratchDirectory())) left.push_back(entry.path().filename());
    for (const std::string& name : left) EXPECT_NE(name[0], '.') << name << " left behind";
}

// Where the small request's first tile lies.
const std::string kFirstPlace = " (level 2, column 1, row 1 from the north)";

// What a careless user or a hostile source puts where a tile belongs: the
// line names the file tried and where the tile lies.
TEST(ZarvoRenderCliTest, HostileTileFailsWithOneLineNamingIt) {
    const std::string relative = RelativePath(SmallRequestUrls().at(0));
    ASSERT_EQ(relative, "map/2/1/2.png");
    struct Case {
        const char* name;
        void (*plant)(const fs::path& where);
        std::string verb;
        std::string reason;
    } cases[] = {
        {"png-bomb", [](const fs::path& at) { WriteBytes(at, PngClaiming(1000000, 1000000)); }, "cannot decode",
         "PNG declares 1000000 x 1000000 pixels"},
        {"jpeg-bomb", [](const fs::path& at) { WriteBytes(at, JpegClaiming(65500, 65500)); }, "cannot decode",
         "JPEG declares 65500 x 65500 pixels"},
        {"truncated-jpeg", [](const fs::path& at) { WriteBytes(at, Truncated(GoodJpegTile(), 0.5)); },
         "cannot decode", "broken JPEG: Premature end of JPEG file"},
        {"directory", [](const fs::path& at) { fs::create_directories(at); }, "cannot fetch",
         " is a directory, not a tile file"},
        {"pipe", [](const fs::path& at) { mkfifo(at.c_str(), 0600); }, "cannot fetch",
         " is a named pipe, not a tile file"},
        {"device", [](const fs::path& at) { fs::create_symlink("/dev/zero", at); }, "cannot fetch",
         " is a character device"},
        {"sparse", [](const fs::path& at) { std::ofstream(at).close(); fs::resize_file(at, std::uintmax_t{20} << 30); },
         "cannot fetch", " has 21474836480 bytes, more than the 4194304 a tile may have"},
    };
    for (const Case& c : cases) {
        const fs::path set = TileSetWithHole(c.name);
        c.plant(set / relative);
        const ProgramRun run = Render(kSmall + " --quiet --tiles " + set.string() + " --out x.tif");
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_EQ(Lines(run.errors), 1u) << c.name << ": " << run.errors;
        const std::string tile = c.verb + " tile " + (set / relative).string() + kFirstPlace + ": ";
        EXPECT_NE(run.errors.find(tile), std::string::npos) << c.name << ": " << run.errors;
        EXPECT_NE(run.errors.find(c.reason), std::string::npos) << c.name << ": " << run.errors;
        fs::remove_all(set);
    }
}

// The line names the URL the template made ({y}: the row from the north).
TEST(ZarvoRenderCliTest, HostileServerFailsWithOneLineNamingTheTile) {
    LoopbackServer server(std::string(ZARVO_SOURCE_DIR) + "/tests/host/hostile_tile_server.py", ZARVO_DEMO_TILES);
    ASSERT_GT(server.port, 0);
    struct Case {
        const char* mode;
        std::string reason;
    } cases[] = {
        {"endless", "body larger than 4194304 bytes"},
        {"oversized", "body larger than 4194304 bytes"},
        {"stall", "no complete answer within 1000 ms"},
        {"error", "HTTP status 500 (tried 3 times)"},
    };
    for (const Case& c : cases) {
        const std::string tiles = server.Address() + "/" + c.mode + "/{layer}/{z}/{x}/{y}.{ext}";
        const ProgramRun run = Render(kSmall + " --quiet --tile-timeout 1 --tiles " + tiles + " --out x.tif");
        EXPECT_EQ(run.exitCode, 1) << c.mode;
        EXPECT_EQ(Lines(run.errors), 1u) << c.mode << ": " << run.errors;
        const std::string message =
            "cannot fetch tile " + server.Address() + "/" + c.mode + "/map/2/1/1.png" + kFirstPlace + ": " + c.reason;
        EXPECT_NE(run.errors.find(message), std::string::npos) << c.mode << ": " << run.errors;
    }
}

// A scheduler stops a job with SIGTERM, a user with Ctrl-C, a closed
// terminal with SIGHUP: the render ends at once with one line and status
// 128 + the signal, and leaves nothing behind. While it runs, its output is
// its own: a second render to it is refused at once.
TEST(ZarvoRenderCliTest, StoppedOrContestedRendersLeaveNothingBehind) {
    LoopbackServer server(std::string(ZARVO_SOURCE_DIR) + "/tests/host/hostile_tile_server.py", ZARVO_DEMO_TILES);
    ASSERT_GT(server.port, 0);
    const fs::path folder = Scratch("stopped");
    fs::create_directories(folder);
    const std::string out = (folder / "x.tif").string();
    const struct {
        int signal;
        const char* name;
    } stops[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    for (const auto& stop : stops) {
        // Its tiles come after 20 s: it waits for them until stopped.
        RunningRender render({"-q", "--layer", "map", "--zoom", "3", "--bbox", "0,40,20,55", "--size", "200x150",
                              "--tile-timeout", "60", "--tiles", server.Address() + "/slow20/{layer}/{z}/{x}/{y}.{ext}",
                              "--out", out},
                             Scratch("stopped.txt"));
        ASSERT_GT(render.pid, 0);
        bool writing = false;
        for (int wait = 0; wait < 400 && !writing; ++wait) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                writing = writing || entry.path().filename().string().rfind(".x.tif.part", 0) == 0;
            }
            if (!writing) usleep(25000);
        }
        ASSERT_TRUE(writing) << stop.name;
        if (stop.signal == SIGTERM) {
            const ProgramRun second = Render(kSmall + " --tiles " + std::string(ZARVO_DEMO_TILES) + " --out " + out);
            EXPECT_EQ(second.exitCode, 1);
            EXPECT_EQ(second.errors, "zarvo-render: cannot write " + out + ": another program (process " +
                                         std::to_string(render.pid) + ") is writing it\n");
        }
        EXPECT_EQ(render.Stop(stop.signal), 128 + stop.signal) << stop.name;
        EXPECT_EQ(Slurp(Scratch("stopped.txt")), "zarvo-render: stopped by " + std::string(stop.name) + "\n");
        EXPECT_TRUE(fs::is_empty(folder)) << stop.name << ": files left behind";
    }
}

TEST(ZarvoRenderCliTest, MissingTilesAreDrawnBlankOrFailByPolicy) {
    // Touching longitude 180 asks for the column one past the world's last,
    // which is column 0; across 180 is one output.
    for (const char* box : {"--bbox 170,-10,180,10", "--bbox 170,-10,-170,10", "-te 165 -48 185 -33 -ts 200 150"}) {
        const ProgramRun run = Render("--layer map --zoom 3 --size 100x100 --missing fail --overwrite --out edge.png "
                                      "--tiles " + std::string(ZARVO_DEMO_TILES) + " " + box);
        EXPECT_EQ(run.exitCode, 0) << box << ": " << run.errors;
    }
    const fs::path set = TileSetWithHole("hole");
    const std::string first = (set / RelativePath(SmallRequestUrls().at(0))).string() + kFirstPlace;
    // Told even when quiet.
    ProgramRun run = Render(kSmall + " -q --out hole.png --tiles " + set.string());
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors, "zarvo-render: 1 of 2 tiles missing, drawn blank; the first: " + first + "\n");
    run = Render(kSmall + " --quiet --missing fail --out hole.png --tiles " + set.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Lines(run.errors), 1u) << run.errors;
    EXPECT_NE(run.errors.find("cannot fetch tile " + first), std::string::npos) << run.errors;

    // Every tile missing: a wrong layout or zoom range, never an all-grey
    // file, nor a progress display that says it is done.
    fs::remove(Scratch("none.tif"));
    run = Render(kSmall + " --out none.tif --tiles " + set.string() + "/{layer}/{z}/{x}/{y}.{ext}");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Lines(run.errors), 2u) << run.errors;
    EXPECT_NE(run.errors.find("...100\nzarvo-render: every tile is missing"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("{y} counts rows from the north, {-y} from the south"), std::string::npos);
    EXPECT_FALSE(fs::exists(Scratch("none.tif")));
    run = Render(kSmall + " --quiet --out none.tif --tiles " + set.string() + "/{layer}/{z}/{x}/{-y}.{ext}");
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    fs::remove_all(set);
}

// --zoom auto picks zarvo-serve's zoom, no deeper than the source holds:
// the demo set holds levels 0 to 5 (zooms 1 to 6), the MBTiles file says
// its deepest is level 1.
TEST(ZarvoRenderCliTest, AutoZoomStopsAtTheSourcesDeepestLevel) {
    const fs::path mbtiles = Scratch("levels.mbtiles");
    fs::remove(mbtiles);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(mbtiles.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE metadata (name, value); INSERT INTO metadata VALUES ('maxzoom', '1');"
                           "CREATE TABLE tiles (zoom_level, tile_column, tile_row, tile_data);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < 2; ++row) {
            const std::string tile = Slurp(std::string(ZARVO_DEMO_TILES) + "/map/1/" + std::to_string(column) + "/" +
                                           std::to_string(row) + ".png");
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (1, ?, ?, ?)", -1, &insert, nullptr);
            sqlite3_bind_int(insert, 1, column);
            sqlite3_bind_int(insert, 2, row);
            sqlite3_bind_blob(insert, 3, tile.data(), static_cast<int>(tile.size()), SQLITE_TRANSIENT);
            EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_finalize(insert);
        }
    }
    sqlite3_close(db);
    const std::string demo = ZARVO_DEMO_TILES;
    struct Case {
        std::string tiles;
        std::string zoom;
    } cases[] = {
        {demo, "zoom 6,"},
        {demo + "/{layer}/{z}/{x}/{-y}.{ext}", "zoom 6,"},
        {demo + " --max-zoom 4", "zoom 4,"},
        {mbtiles.string(), "zoom 2,"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = Render(
            "--layer map --zoom auto -te 5 45 15 55 -ts 1000 1000 --overwrite --out auto.tif --tiles " + c.tiles);
        EXPECT_EQ(run.exitCode, 0) << c.tiles << ": " << run.errors;
        EXPECT_NE(run.out.find(c.zoom), std::string::npos) << c.tiles << ": " << run.out;
    }
}

// A render larger than one request is drawn in parts; the parts change no
// pixel and share their tiles, and a failed write leaves nothing behind.
TEST(ZarvoRenderCliTest, PartsChangeNoPixelShareTilesAndFailedWritesLeaveNothing) {
    const std::string world = "--layer map --zoom 4 -te -180 -90 180 90 -ts 900 450 --overwrite --tiles " +
                              std::string(ZARVO_DEMO_TILES);
    ProgramRun run = Render(world + " --out whole.png");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const std::string wholeSummary = run.out;
    run = Render(world + " --max-memory 64 --out parts.png");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.out.substr(0, run.out.find(" tiles")), wholeSummary.substr(0, wholeSummary.find(" tiles")));
    EXPECT_EQ(Slurp(Scratch("whole.png")), Slurp(Scratch("parts.png")));
    // The parts share the tiles they have in common: a world drawn in many
    // parts from its one tile fetches it once.
    run = Render("--layer map --zoom 1 -te -180 -90 180 90 -ts 900 450 --max-memory 64 --out one.png --tiles " +
                 std::string(ZARVO_DEMO_TILES));
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.out.find(" 1 request,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" requests, 1 tile ("), std::string::npos) << run.out;

    // A file-size limit fails the writes as a full disk does.
    fs::create_directories(Scratch("full"));
    const fs::path out = Scratch("full/limited.tif");
    const std::string command = "sh -c 'ulimit -f 64; exec " + std::string(ZARVO_RENDER) + " -q " + world +
                                " --out " + out.string() + "' 2>" + Scratch("limited.txt").string();
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    const std::string errors = Slurp(Scratch("limited.txt"));
    EXPECT_NE(errors.find("cannot write " + out.string()), std::string::npos) << errors;
    EXPECT_EQ(Lines(errors), 1u) << errors;
    EXPECT_TRUE(fs::is_empty(Scratch("full"))) << "a failed render left files behind";
    fs::remove_all(Scratch("full"));
}

TEST(ZarvoRenderCliTest, RunsFromAnyDirectoryAndTalksLikeATool) {
    // gdalwarp's habits: -overwrite, --config KEY VALUE.
    const std::string arguments = "--layer map --zoom 3 --bbox 0,40,20,55 --size 200x150 -overwrite --config "
                                  "GDAL_NUM_THREADS 1 --tiles=" + std::string(ZARVO_DEMO_TILES) + " --out=" +
                                  Scratch("small.tif").string();
    // No --plugin: the library beside the program is found from /.
    ProgramRun run = RenderIn("/", arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    // Into a file: GDAL-style progress, the summary, no descriptor.
    EXPECT_NE(run.errors.find("0...10...20...30...40...50...60...70...80...90...100 - done.\n"), std::string::npos)
        << run.errors;
    EXPECT_EQ(Lines(run.out), 1u) << run.out;
    EXPECT_NE(run.out.find("map: zoom 3, 1 request, 2 tiles (0 missing)"), std::string::npos) << run.out;
    run = RenderIn("/", arguments + " --verbose");
    EXPECT_EQ(run.out.rfind("plug-in: ", 0), 0u) << run.out;
    run = RenderIn("/", arguments + " -q");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.empty() && run.errors.empty()) << run.out << run.errors;
    // Quiet keeps GDAL's warnings, as gdal_translate tells them.
    run = RenderIn("/", arguments + " -q -co COMPRESS=BOGUS");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors.rfind("Warning ", 0), 0u) << run.errors;
    EXPECT_NE(run.errors.find("BOGUS"), std::string::npos) << run.errors;

    // On a terminal: a bar that says what it counts.
    std::FILE* terminal = std::tmpfile();
    Progress bar(ProgressStyle::Bar, terminal, "pixels");
    bar.Update(410000, 1000000);
    bar.Finish(true);
    std::rewind(terminal);
    char shown[200] = {};
    EXPECT_GT(std::fread(shown, 1, sizeof shown - 1, terminal), 0u);
    std::fclose(terminal);
    EXPECT_NE(std::string(shown).find(" 41% (0.4 of 1.0 million pixels)\n"), std::string::npos) << shown;
}

}  // namespace
