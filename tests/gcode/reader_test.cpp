#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "gcode/program.h"
#include "support/mesh_checks.h"

namespace korvan::gcode {
namespace {

class GcodeReader : public testing::Test {
protected:
    Status read(const std::string& text, const ReadGcodeOptions& options = {}) {
        test::writeFile(path(), text);
        return readGcode(path(), program, options);
    }
    std::string path() const { return dir.path("p.nc"); }
    std::string error(int line, const std::string& what) const {
        return "Greska u datoteci " + path() + ", redak " + std::to_string(line) + ": " + what;
    }
    // A program read before, which a refused file must leave as it was.
    void preload() {
        program = Program{};
        program.units = Units::Inch;
        program.moves.push_back(Move{7, MoveKind::Rapid, {1, 2, 3}, 0, 0, 4});
    }
    bool preloadKept() const {
        return program.units == Units::Inch && program.moves.size() == 1 &&
               program.moves[0].line == 7 && program.moves[0].end == Position{1, 2, 3};
    }
    // Every field of every move.
    void expectMoves(const std::vector<Move>& expected) const {
        const auto fields = [](const Move& m) {
            return std::make_tuple(m.line, m.kind, m.end, m.feed, m.seconds, m.tool);
        };
        ASSERT_EQ(program.moves.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(fields(program.moves[i]), fields(expected[i])) << "move " << i;
        }
    }
    std::vector<Position> ends() const {
        std::vector<Position> e;
        for (const Move& m : program.moves) {
            e.push_back(m.end);
        }
        return e;
    }

    test::TempDir dir;
    Program program;
};

TEST_F(GcodeReader, ReadsAPostProcessorsProgramMoveByMove) {
    ASSERT_TRUE(read("%\n"
                     "O1000 (POCKET)\n"
                     "(T1 D=6 FLAT)\n"
                     "N10 G90 G94 G17 G21 G40 G49 G80\n"
                     "N20 G54\n"
                     "N30 T1 M6\n"
                     "N40 S12000 M3\n"
                     "N50 M8\n"
                     "N60 G0 X5 Y-2.5 Z10\n"
                     "N70 G1 Z-1 F150\n"
                     "N80 X20 F600 ; cut\n"
                     "N90 G4 P0.5\n"
                     "N100 G0 Z10\n"
                     "N110 M5 M9\n"
                     "N120 M30\n"
                     "%\n")
                    .ok());
    EXPECT_EQ(program.units, Units::Millimetre);
    EXPECT_EQ(program.start, Position{});
    // A dwell stays where the last move ended; the feed in effect goes on through rapids.
    expectMoves({{9, MoveKind::Rapid, {5, -2.5, 10}, 0, 0, 1},
                 {10, MoveKind::Feed, {5, -2.5, -1}, 150, 0, 1},
                 {11, MoveKind::Feed, {20, -2.5, -1}, 600, 0, 1},
                 {12, MoveKind::Dwell, {20, -2.5, -1}, 600, 0.5, 1},
                 {13, MoveKind::Rapid, {20, -2.5, 10}, 600, 0, 1}});
}

TEST_F(GcodeReader, MotionIsModalAndAxesKeepTheirValues) {
    ASSERT_TRUE(read("G1 X1 F100\nY2\nZ3\nG0 X4\nY5 Z6\nF50\nG1\nS100\n").ok());
    ASSERT_EQ(program.moves.size(), 5u);
    const MoveKind kinds[] = {MoveKind::Feed, MoveKind::Feed, MoveKind::Feed, MoveKind::Rapid,
                              MoveKind::Rapid};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(program.moves[i].kind, kinds[i]) << i;
    }
    EXPECT_EQ(ends(),
              (std::vector<Position>{{1, 0, 0}, {1, 2, 0}, {1, 2, 3}, {4, 2, 3}, {4, 5, 6}}));
    // Incremental positions add up until G90; inch programs keep their numbers; M30 and M2 end
    // the program (what follows is not read), M0 and M1 only pause it; a byte-order mark and
    // an empty program are fine.
    const std::pair<std::string, std::vector<Position>> cases[] = {
        {"G0 X10 Y10\nG91\nG1 X1 Y-2 F100\nX1\nZ-0.5\nG90 X0\n",
         {{10, 10, 0}, {11, 8, 0}, {12, 8, 0}, {12, 8, -0.5}, {0, 8, -0.5}}},
        {"G20\nG0 X1.25 Y0.5\nG20 G1 Z-0.05 F20\n", {{1.25, 0.5, 0}, {1.25, 0.5, -0.05}}},
        {"G0 X1\nM30\nG43 H1 garbage\n", {{1, 0, 0}}},
        {"G0 X1\nM2\nX9\n", {{1, 0, 0}}},
        {"G0 X1\nM0\nM1\nX9\n", {{1, 0, 0}, {9, 0, 0}}},
        {"\xEF\xBB\xBFG0 X1\n", {{1, 0, 0}}},
        {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(read(text).ok()) << text;
        EXPECT_EQ(ends(), expected) << text;
        EXPECT_EQ(program.units, text.starts_with("G20") ? Units::Inch : Units::Millimetre);
    }
}

TEST_F(GcodeReader, WordsMayBeGluedSpacedAndInAnyCase) {
    ASSERT_TRUE(read("g0x1y2\r\n"
                     "G1X10Y-2.5F300(glued comment)Z.5\r"
                     "  g01   x 3   Y -.5 ;tail (not a comment opener\n"
                     "\tG01 X+4. Y0.0 (a) (b)\n"
                     "G0001 X5\n")
                    .ok());
    EXPECT_EQ(ends(), (std::vector<Position>{
                          {1, 2, 0}, {10, -2.5, 0.5}, {3, -0.5, 0.5}, {4, 0, 0.5}, {5, 0, 0.5}}));
    EXPECT_EQ(program.moves[1].line, 2);  // CR LF ends a line once, a lone CR too
    EXPECT_EQ(program.moves[2].line, 3);
    EXPECT_EQ(program.moves[4].line, 5);
}

TEST_F(GcodeReader, ToolChangesAtM6WhateverTheWordOrderAndDwellsTakePOrX) {
    ASSERT_TRUE(read("G0 X1\nT2\nX2\nM6\nX3\nM6 T3\nX4\nT4 M6 G1 X5 F10\n").ok());
    std::vector<int32_t> tools;
    for (const Move& m : program.moves) {
        tools.push_back(m.tool);
    }
    EXPECT_EQ(tools, (std::vector<int32_t>{0, 0, 2, 3, 4}));
    // X is a time here, not an axis.
    ASSERT_TRUE(read("G0 X1 Y1\nG4 X2.5\nG04 P3\n").ok());
    expectMoves({{1, MoveKind::Rapid, {1, 1, 0}, 0, 0, 0},
                 {2, MoveKind::Dwell, {1, 1, 0}, 0, 2.5, 0},
                 {3, MoveKind::Dwell, {1, 1, 0}, 0, 3, 0}});
}

// Each refused line comes after a good one, so that the line number is checked and the moves
// read before it are not kept either.
TEST_F(GcodeReader, RefusesWhatItDoesNotKnowAndProducesNothing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"G43 Z5 H1", "nepoznata naredba 'G43'"},
        {"G90.2", "nepoznata naredba 'G90.2'"},
        {"G1.5 X1", "nepoznata naredba 'G1.5'"},
        {"G-900000000", "nepoznata naredba 'G-900000000'"},
        {"G-0 X1", "nepoznata naredba 'G-0'"},
        {"M98 P100", "nepoznata naredba 'M98'"},
        {"M6.5", "nepoznata naredba 'M6.5'"},
        {"g55", "nepoznata naredba 'G55'"},
        {"G1 A5", "nepoznata rijec 'A5'"},
        {"G1 X1E5", "nepoznata rijec 'E5'"},
        {"G1 X1..2", "neispravan broj u rijeci 'X1..2'"},
        {"G1 X1-2 Y3", "neispravan broj u rijeci 'X1-2'"},
        {"G1 X", "rijec 'X' nema broja"},
        {"G1 X-", "rijec 'X' nema broja"},
        {"G1 X1234567890", "broj u rijeci 'X1234567890' je izvan raspona (najvise 1e9)"},
        {"G1 X1 x2", "dvije rijeci X u istom retku ('X1' i 'X2')"},
        {"G0 G1 X1", "naredbe 'G0' i 'G1' ne mogu biti u istom retku"},
        {"G20 G21", "naredbe 'G20' i 'G21' ne mogu biti u istom retku"},
        {"M3 M5", "naredbe 'M3' i 'M5' ne mogu biti u istom retku"},
        {"G1 X1 #1", "neocekivan znak '#'"},
        {"/G1 X1", "neocekivan znak '/'"},
        {std::string("G1 X1 \x01"), "neocekivan bajt 0x01"},
        {std::string("G1 X1 \0", 7), "neocekivan bajt 0x00"},
        {"G1 X1 (open", "komentar nije zatvoren"},
        {"G80 X10", "rijec 'X10' bez naredbe kretanja (G0, G1, G2 ili G3)"},
        {"G1 X1 I5", "rijec 'I5' vrijedi samo uz luk (G2, G3)"},
        {"G0 R5", "rijec 'R5' vrijedi samo uz luk (G2, G3)"},
        {"G2 X10 Y0", "luk bez sredista (I, J, K) ili polumjera (R)"},
        {"G2 X10 Y0 I5 R5", "luk ne moze imati i R i srediste (I, J, K)"},
        {"G2 X10 I5 K1", "rijec 'K1' ne vrijedi za luk u ravnini G17"},
        {"G18 G2 X10 I5 J1", "rijec 'J1' ne vrijedi za luk u ravnini G18"},
        {"G19 G3 Y10 I5", "rijec 'I5' ne vrijedi za luk u ravnini G19"},
        {"G2 X10 Y0 I4", "pocetak i kraj luka nisu jednako udaljeni od sredista (4 i 6)"},
        {"G2 X10 Y0 R4", "polumjer 'R4' je premalen za krajnje tocke luka"},
        {"G2 X0 Y0 R5", "luk zadan polumjerom ('R5') ne moze biti puna kruznica"},
        {"G3 X10 Y0 R0", "luk polumjera 0"},
        {"G2 X0 Y0 I0 J0", "luk polumjera 0"},
        {"G4", "G4 bez vremena cekanja (P ili X)"},
        {"G4 P-1", "vrijeme cekanja ne moze biti negativno ('P-1')"},
        {"G4 P1 X1", "G4 treba samo jedno vrijeme, P ili X"},
        {"G1 G4 P1", "G4 ne moze biti u retku s naredbom kretanja 'G1'"},
        {"G4 P1 Z3", "G4 ne moze biti u retku s kretanjem ('Z3')"},
        {"G1 X1 P2", "rijec 'P2' vrijedi samo uz G4"},
        {"G1 X1 F-5", "posmak ne moze biti negativan ('F-5')"},
        {"S-100 M3", "broj okretaja ne moze biti negativan ('S-100')"},
        {"T1.5", "neispravan broj alata 'T1.5'"},
        {"T-1", "neispravan broj alata 'T-1'"},
        {"G20", "promjena jedinica ('G20') nakon prvog pomaka nije podrzana"},
    };
    for (const auto& [line, what] : cases) {
        preload();
        const Status s = read("G0 X0 Y0\n" + line + "\n");
        EXPECT_EQ(s.message(), error(2, what)) << line;
        EXPECT_TRUE(preloadKept()) << line;
    }
}

TEST_F(GcodeReader, RefusesHostileSizesAndUnreadableFilesWithoutTakingTheMemory) {
    ReadGcodeOptions few;
    few.maxMoves = 5;
    preload();
    EXPECT_EQ(read("G1 X1\nX2\nX3\nX4\nX5\nX6\nX7\n", few).message(),
              error(6, "program ima previse pomaka (najvise 5)"));
    EXPECT_TRUE(preloadKept());
    // A full circle of radius 1e9 within a nanometre would need some 10^9 chords: refused
    // before any is made.
    ReadGcodeOptions fine;
    fine.arcTolerance = 1e-9;
    const Status s = read("G0 X1000000000\nG2 I-1000000000\n", fine);
    EXPECT_NE(s.message().find("redak 2: luk bi trebao"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("povecajte toleranciju luka"), std::string::npos);
    EXPECT_TRUE(preloadKept());

    ReadGcodeOptions small;
    small.maxBytes = 10;
    EXPECT_EQ(read("G1 X1\nG1 X2\n", small).message(),
              "Datoteka " + path() + " je prevelika za G-kod (najvise 10 bajtova)");
    EXPECT_EQ(readGcodeText("G1 X1\nG1 X2\n", "t.nc", program, small).message(),
              "Datoteka t.nc je prevelika za G-kod (najvise 10 bajtova)");
    for (const double tolerance : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
        ReadGcodeOptions bad;
        bad.arcTolerance = tolerance;
        EXPECT_EQ(read("G1 X1\n", bad).message(), "Tolerancija luka mora biti pozitivan broj");
    }
    EXPECT_EQ(readGcode(dir.path("missing.nc"), program).message(),
              "Datoteka " + dir.path("missing.nc") + " se ne moze procitati");
    EXPECT_EQ(readGcode(dir.dir(), program).message(),
              "Datoteka " + dir.dir() + " nije obicna datoteka");
    EXPECT_TRUE(preloadKept());
}

TEST_F(GcodeReader, ReadsTheSamplePrograms) {
    for (const char* name : {"zigzag_pocket.nc", "contour_arcs.nc", "helical_ramp.nc"}) {
        const std::string file = std::string(KORVAN_GCODE_DATA_DIR) + "/" + name;
        ASSERT_TRUE(readGcode(file, program).ok()) << name;
        EXPECT_EQ(program.units, Units::Millimetre) << name;
        EXPECT_GT(program.moves.size(), 100u) << name;
        // Every cut stays inside the stock the header names (100 x 80, top at z = 0), below
        // the clearance height.
        for (const Move& m : program.moves) {
            EXPECT_TRUE(m.end.x >= 0 && m.end.x <= 100 && m.end.y >= 0 && m.end.y <= 80 &&
                        m.end.z >= -20 && m.end.z <= 25)
                << name << " line " << m.line;
            if (m.kind == MoveKind::Feed) {
                EXPECT_GT(m.feed, 0.0) << name << " line " << m.line;
                EXPECT_GT(m.tool, 0) << name << " line " << m.line;
            }
        }
    }
}

}  // namespace
}  // namespace korvan::gcode
