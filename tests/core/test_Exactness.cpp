// A site 10 km across, far from the origin, as the user meets it: imported
// or opened, then listed. Every coordinate comes back digit for digit as the
// source wrote it, whatever the model keeps in memory and draws with.
#include "CliRun.h"
#include "E57Writer.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <vector>

namespace {

// "%.6f" of a decimal given as a whole number of thousandths, without
// passing through binary floating point.
std::string Thousandths(long long value)
{
    const bool negative = value < 0;
    const unsigned long long v = static_cast<unsigned long long>(negative ? -value : value);
    char text[64];
    std::snprintf(text, sizeof text, "%s%llu.%03llu000", negative ? "-" : "", v / 1000, v % 1000);
    return text;
}

// The first three fields of every line of a listing.
std::vector<std::vector<std::string>> Coordinates(const std::string& listing)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> row(3);
        fields >> row[0] >> row[1] >> row[2];
        rows.push_back(row);
    }
    return rows;
}

// Points in thousandths of a metre across 10 km east and north of
// (612000, 5100000), heights 100-400 m.
std::vector<std::array<long long, 3>> Site(int n)
{
    std::vector<std::array<long long, 3>> points;
    uint32_t seed = 7;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 4; };
    for (int i = 0; i < n; ++i)
        points.push_back({612000000LL + next() % 10000000, 5100000000LL + next() % 10000000, 100000LL + next() % 300000});
    // The corners too.
    points.push_back({612000000LL, 5100000000LL, 100000LL});
    points.push_back({621999999LL, 5109999999LL, 399999LL});
    return points;
}

// Every listing in `listings` (files of `dir`) gives back `site`.
void ExpectSiteListed(const TempDir& dir, const std::vector<std::array<long long, 3>>& site,
                      std::initializer_list<const char*> listings)
{
    for (const char* listing : listings) {
        SCOPED_TRACE(listing);
        const auto rows = Coordinates(ReadText(dir.File(listing)));
        ASSERT_EQ(rows.size(), site.size());
        for (size_t i = 0; i < site.size(); ++i)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(rows[i][k], Thousandths(site[i][k])) << "point " << i << " axis " << k;
    }
}

// Opened as it is and imported into a model file that is then opened: both
// listings give back `site`.
void ExpectDirectAndImportedListed(const TempDir& dir, const std::string& source, const std::string& model,
                                   const std::vector<std::array<long long, 3>>& site)
{
    CliRun r = RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("direct.txt")) + " " + Q(dir.File(source)));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli(dir, "import " + Q(dir.File(source)));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("model.txt")) + " " + Q(dir.File(model)));
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSiteListed(dir, site, {"direct.txt", "model.txt"});
}

} // namespace

TEST(Exactness, AnXyzCloudImportedOpenedAndListedGivesBackItsDigits)
{
    TempDir dir;
    const auto site = Site(3000);
    std::string text;
    for (const auto& p : site)
        text += Thousandths(p[0]).substr(0, Thousandths(p[0]).size() - 3) + " " +
                Thousandths(p[1]).substr(0, Thousandths(p[1]).size() - 3) + " " +
                Thousandths(p[2]).substr(0, Thousandths(p[2]).size() - 3) + " 10 20 30\n";
    WriteText(dir.File("site.xyz"), text);
    CliRun r = RunCli(dir, "import " + Q(dir.File("site.xyz")));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli(dir, "export --format xyzrgb -o " + Q(dir.File("list.txt")) + " " + Q(dir.File("site.vtp")));
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSiteListed(dir, site, {"list.txt"});
}

TEST(Exactness, ALasSiteOpenedAndListedGivesBackItsDigits)
{
    TempDir dir;
    const auto site = Site(3000);
    LasFile f;
    f.offset[0] = 600000.0;
    f.offset[1] = 5000000.0;
    f.offset[2] = 0.0;
    for (const auto& p : site)
        f.points.push_back({static_cast<int32_t>(p[0] - 600000000LL), static_cast<int32_t>(p[1] - 5000000000LL),
                            static_cast<int32_t>(p[2]), 100, 1000, 2000, 3000});
    WriteText(dir.File("site.las"), LasBytes(f));
    ExpectDirectAndImportedListed(dir, "site.las", "site.vtp", site);
}

// The scanner's own frame: millimetre integers relative to the station, the
// station as the scan's pose; and doubles in the site's frame.
TEST(Exactness, AnE57SiteOpenedAndListedGivesBackItsDigits)
{
    const auto site = Site(3000);
    const long long station[3] = {617000000LL, 5105000000LL, 250000LL};
    for (const bool scaled : {true, false}) {
        SCOPED_TRACE(scaled ? "scaled integers from the station" : "doubles in the site's frame");
        TempDir dir;
        e57write::ScanData scan;
        scan.name = "Station";
        scan.guid = "{exactness}";
        for (const auto& p : site)
            for (int k = 0; k < 3; ++k)
                scan.coordinates.push_back(scaled ? double(p[k] - station[k]) / 1000.0 : double(p[k]) / 1000.0);
        if (scaled) {
            scan.scale = 0.001;
            for (int k = 0; k < 3; ++k)
                scan.translation[k] = double(station[k]) / 1000.0;
        }
        for (size_t i = 0; i < site.size(); ++i) {
            scan.rgb.insert(scan.rgb.end(), {10, 20, 30});
            scan.intensity.push_back(static_cast<uint16_t>(i % 2048));
        }
        const std::string written = e57write::Write(dir.File("site.e57"), {scan});
        ASSERT_TRUE(written.empty()) << written;
        ExpectDirectAndImportedListed(dir, "site.e57", "site.vtp", site);
    }
}
