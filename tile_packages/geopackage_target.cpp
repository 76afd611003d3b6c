#include "tile_packages/geopackage_target.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tile_packages {
namespace {

// Marks the pyramid's record among the GeoPackage's metadata, and finds it.
constexpr const char* kRecordUri = "urn:zarvo:tile-pyramid";
constexpr const char* kRecordQuery =
    "SELECT metadata FROM gpkg_metadata WHERE md_standard_uri='urn:zarvo:tile-pyramid'";

constexpr const char* kWgs84Wkt =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
    "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],"
    "AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";

constexpr const char* kPseudoMercatorWkt =
    "PROJCS[\"WGS 84 / Pseudo-Mercator\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
    "298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
    "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
    "AUTHORITY[\"EPSG\",\"4326\"]],PROJECTION[\"Mercator_1SP\"],PARAMETER[\"central_meridian\",0],"
    "PARAMETER[\"scale_factor\",1],PARAMETER[\"false_easting\",0],PARAMETER[\"false_northing\",0],"
    "UNIT[\"metre\",1,AUTHORITY[\"EPSG\",\"9001\"]],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH],"
    "EXTENSION[\"PROJ4\",\"+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m "
    "+nadgrids=@null +wktext +no_defs\"],AUTHORITY[\"EPSG\",\"3857\"]]";

// The area in the set's CRS: degrees as they are for EPSG:4326, spherical
// Mercator metres for EPSG:3857, with the poles clamped to the latitude at
// which the square Mercator world ends.
void AreaInCrs(const PyramidDescription& d, double box[4]) {
    if (d.set.epsg == 4326) {
        box[0] = d.area.west;
        box[1] = d.area.south;
        box[2] = d.area.east;
        box[3] = d.area.north;
        return;
    }
    constexpr double kRadius = 6378137.0;
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kMaxLatitude = 85.05112877980659;
    auto x = [&](double lon) { return kRadius * lon * kPi / 180.0; };
    auto y = [&](double lat) {
        const double clamped = std::max(-kMaxLatitude, std::min(kMaxLatitude, lat));
        return kRadius * std::log(std::tan(kPi / 4.0 + clamped * kPi / 360.0));
    };
    box[0] = x(d.area.west);
    box[1] = y(d.area.south);
    box[2] = x(d.area.east);
    box[3] = y(d.area.north);
}

// The tile table's name: the layer's name in lower-case letters, digits and
// underscores, not starting with a digit or the reserved "gpkg_".
std::string TableName(const PyramidDescription& d) {
    std::string name;
    for (char c : d.name) {
        const auto u = static_cast<unsigned char>(c);
        name += std::isalnum(u) && u < 128 ? static_cast<char>(std::tolower(u)) : '_';
    }
    if (name.size() > 64) name.resize(64);
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) || name.rfind("gpkg_", 0) == 0) {
        name = "tiles_" + name;
    }
    return name;
}

TileTable TableOf(const PyramidDescription& d) { return {TableName(d), false}; }

bool MakeSchema(SqliteDatabase& database, const PyramidDescription& d, std::string& error) {
    const std::string table = TableName(d);
    // 0x47504B47 ("GPKG") and version 1.3.0.
    std::string sql =
        "PRAGMA application_id=1196444487; PRAGMA user_version=10300;"
        "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER NOT NULL PRIMARY KEY,"
        " organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,"
        " description TEXT);"
        "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,"
        " identifier TEXT UNIQUE, description TEXT DEFAULT '',"
        " last_change DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),"
        " min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER,"
        " CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));"
        "CREATE TABLE gpkg_tile_matrix_set (table_name TEXT NOT NULL PRIMARY KEY, srs_id INTEGER NOT NULL,"
        " min_x DOUBLE NOT NULL, min_y DOUBLE NOT NULL, max_x DOUBLE NOT NULL, max_y DOUBLE NOT NULL,"
        " CONSTRAINT fk_gtms_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),"
        " CONSTRAINT fk_gtms_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id));"
        "CREATE TABLE gpkg_tile_matrix (table_name TEXT NOT NULL, zoom_level INTEGER NOT NULL,"
        " matrix_width INTEGER NOT NULL, matrix_height INTEGER NOT NULL, tile_width INTEGER NOT NULL,"
        " tile_height INTEGER NOT NULL, pixel_x_size DOUBLE NOT NULL, pixel_y_size DOUBLE NOT NULL,"
        " CONSTRAINT pk_ttm PRIMARY KEY (table_name, zoom_level),"
        " CONSTRAINT fk_tmm_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name));"
        "CREATE TABLE gpkg_extensions (table_name TEXT, column_name TEXT, extension_name TEXT NOT NULL,"
        " definition TEXT NOT NULL, scope TEXT NOT NULL,"
        " CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name));"
        "CREATE TABLE gpkg_metadata (id INTEGER CONSTRAINT m_pk PRIMARY KEY ASC NOT NULL,"
        " md_scope TEXT NOT NULL DEFAULT 'dataset', md_standard_uri TEXT NOT NULL,"
        " mime_type TEXT NOT NULL DEFAULT 'text/xml', metadata TEXT NOT NULL DEFAULT '');"
        "CREATE TABLE gpkg_metadata_reference (reference_scope TEXT NOT NULL, table_name TEXT, column_name TEXT,"
        " row_id_value INTEGER, timestamp DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),"
        " md_file_id INTEGER NOT NULL, md_parent_id INTEGER,"
        " CONSTRAINT crmr_mfi_fk FOREIGN KEY (md_file_id) REFERENCES gpkg_metadata(id),"
        " CONSTRAINT crmr_mpi_fk FOREIGN KEY (md_parent_id) REFERENCES gpkg_metadata(id));"
        "CREATE TABLE \"" + table + "\" (id INTEGER PRIMARY KEY AUTOINCREMENT, zoom_level INTEGER NOT NULL,"
        " tile_column INTEGER NOT NULL, tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,"
        " UNIQUE (zoom_level, tile_column, tile_row));"
        "INSERT INTO gpkg_spatial_ref_sys VALUES ('Undefined cartesian SRS', -1, 'NONE', -1, 'undefined',"
        " 'undefined cartesian coordinate reference system');"
        "INSERT INTO gpkg_spatial_ref_sys VALUES ('Undefined geographic SRS', 0, 'NONE', 0, 'undefined',"
        " 'undefined geographic coordinate reference system');"
        "INSERT INTO gpkg_extensions VALUES ('gpkg_metadata', NULL, 'gpkg_metadata',"
        " 'http://www.geopackage.org/spec/#extension_metadata', 'read-write');"
        "INSERT INTO gpkg_extensions VALUES ('gpkg_metadata_reference', NULL, 'gpkg_metadata',"
        " 'http://www.geopackage.org/spec/#extension_metadata', 'read-write');";
    if (d.format == TileFormat::Webp) {
        sql += "INSERT INTO gpkg_extensions VALUES ('" + table +
               "', 'tile_data', 'gpkg_webp', 'http://www.geopackage.org/spec/#extension_tiles_webp', 'read-write');";
    }
    if (!database.Exec(sql, error)) return false;

    // The geographic CRS always; the Mercator one when the set uses it.
    SqliteStatement srs(database, "INSERT INTO gpkg_spatial_ref_sys VALUES (?, ?, 'EPSG', ?, ?, ?)", error);
    if (!srs) return false;
    struct Crs {
        int code;
        const char* name;
        const char* wkt;
    };
    for (const Crs& crs : {Crs{4326, "WGS 84 geodetic", kWgs84Wkt}, Crs{3857, "WGS 84 / Pseudo-Mercator", kPseudoMercatorWkt}}) {
        if (crs.code == 3857 && d.set.epsg != 3857) continue;
        srs.Reset();
        srs.Bind(1, std::string(crs.name));
        srs.Bind(2, int64_t{crs.code});
        srs.Bind(3, int64_t{crs.code});
        srs.Bind(4, std::string(crs.wkt));
        srs.Bind(5, std::string(crs.name));
        if (!srs.Run(error)) return false;
    }

    double area[4];
    AreaInCrs(d, area);
    SqliteStatement contents(database,
                             "INSERT INTO gpkg_contents (table_name, data_type, identifier, description,"
                             " min_x, min_y, max_x, max_y, srs_id) VALUES (?, 'tiles', ?, ?, ?, ?, ?, ?, ?)",
                             error);
    if (!contents) return false;
    contents.Bind(1, table);
    contents.Bind(2, d.name.empty() ? table : d.name);
    contents.Bind(3, d.description);
    for (int i = 0; i < 4; ++i) contents.Bind(4 + i, area[i]);
    contents.Bind(8, int64_t{d.set.epsg});
    if (!contents.Run(error)) return false;

    // The matrix set spans the whole level-0 matrix, as the tiles' grid.
    const TileMatrixSet& set = d.set;
    SqliteStatement matrixSet(database, "INSERT INTO gpkg_tile_matrix_set VALUES (?, ?, ?, ?, ?, ?)", error);
    if (!matrixSet) return false;
    matrixSet.Bind(1, table);
    matrixSet.Bind(2, int64_t{set.epsg});
    matrixSet.Bind(3, set.left);
    matrixSet.Bind(4, set.top - set.tileSpan * set.rows);
    matrixSet.Bind(5, set.left + set.tileSpan * set.columns);
    matrixSet.Bind(6, set.top);
    if (!matrixSet.Run(error)) return false;

    SqliteStatement matrix(database, "INSERT INTO gpkg_tile_matrix VALUES (?, ?, ?, ?, ?, ?, ?, ?)", error);
    if (!matrix) return false;
    for (int level = d.minLevel; level <= d.maxLevel; ++level) {
        const double pixelSize = set.tileSpan / std::ldexp(d.tileSize, level);
        matrix.Reset();
        matrix.Bind(1, table);
        matrix.Bind(2, int64_t{level});
        matrix.Bind(3, static_cast<int64_t>(MatrixWidth(set, level)));
        matrix.Bind(4, static_cast<int64_t>(MatrixHeight(set, level)));
        matrix.Bind(5, int64_t{d.tileSize});
        matrix.Bind(6, int64_t{d.tileSize});
        matrix.Bind(7, pixelSize);
        matrix.Bind(8, pixelSize);
        if (!matrix.Run(error)) return false;
    }

    // The pyramid's record, with the attribution that the GeoPackage's own
    // tables have no place for.
    SqliteStatement record(database,
                           "INSERT INTO gpkg_metadata (id, md_scope, md_standard_uri, mime_type, metadata)"
                           " VALUES (1, 'dataset', ?, 'application/json', ?)",
                           error);
    if (!record) return false;
    record.Bind(1, std::string(kRecordUri));
    record.Bind(2, DescriptionToJson(d));
    if (!record.Run(error)) return false;
    SqliteStatement reference(database,
                              "INSERT INTO gpkg_metadata_reference (reference_scope, table_name, md_file_id)"
                              " VALUES ('table', ?, 1)",
                              error);
    if (!reference) return false;
    reference.Bind(1, table);
    return reference.Run(error);
}

}  // namespace

const SqliteTarget kGeopackageTarget{"a GeoPackage", kRecordQuery, MakeSchema, TableOf};

}  // namespace tile_packages
