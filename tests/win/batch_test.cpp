// Runs lumivex-batch.exe as a script would, as a console program without any display: its exit
// status, the lines on each of its two outputs, and what it leaves in the folder.
#include "test_support.h"

#include "batch/run.h"
#include "version.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

struct BatchRun {
    DWORD status = 0xFFFFFFFF;
    std::vector<std::string> out, err;
};

struct HandleClose {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using HandlePtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

static std::vector<std::string> Lines(const std::string& path)
{
    std::vector<unsigned char> bytes = ReadBytes(path);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();  // a last line without its break still shows
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

static std::wstring Wide(const std::string& utf8)
{
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0],
                                                        static_cast<int>(wide.size())) - 1));
    return wide;
}

static HandlePtr OutputFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    return HandlePtr(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr));
}

// Runs the batch tool with `arguments` in `root`\files, its outputs going to files in `root`. It
// inherits this process's locale: Wine takes a child's from the Unix environment, not from ours.
static BatchRun RunBatchTool(const std::string& root, const std::string& arguments)
{
    std::string executable = LUMIVEX_BATCH_EXE;
    std::replace(executable.begin(), executable.end(), '/', '\\');
    // Arguments are UTF-8 here and reach the tool in UTF-16, as a shell hands them on.
    std::wstring commandLine = Wide("\"" + executable + "\" " + arguments);
    HandlePtr out = OutputFile(root + "\\out.txt"), err = OutputFile(root + "\\err.txt");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION process{};
    BatchRun run;
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, Wide(root + "\\files").c_str(),
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start " << executable << ": error " << GetLastError();
        return run;
    }
    HandlePtr thread(process.hThread), child(process.hProcess);
    EXPECT_EQ(WaitForSingleObject(child.get(), 120000), WAIT_OBJECT_0) << arguments;
    GetExitCodeProcess(child.get(), &run.status);
    out.reset();
    err.reset();
    run.out = Lines(root + "\\out.txt");
    run.err = Lines(root + "\\err.txt");
    return run;
}

using Files = std::vector<std::pair<std::string, std::string>>;  // fixture, name in the folder

// `root` with a "files" folder holding the named fixtures; the test's scratch folder by default.
static std::string FolderWith(const Files& files, std::string root = "")
{
    if (root.empty()) root = ScratchFolder();
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA((root + "\\files").c_str(), nullptr);
    for (const auto& file : files) CopyFixture(file.first, root + "\\files", file.second);
    return root;
}

struct BatchCase {
    const char* what;
    Files files;
    std::string arguments;
    DWORD status;
    std::vector<std::string> out, err;
    std::vector<std::string> after;  // the folder's names afterwards, sorted
};

static void ExpectRun(const BatchCase& c)
{
    SCOPED_TRACE(c.what);
    std::string root = FolderWith(c.files);
    BatchRun run = RunBatchTool(root, c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(FolderEntries(root + "\\files"), c.after);
}

static const char* const png600 = "dpi_600_5.png";
static const char* const png72 = "dpi_72.png";
static const std::string rotated = ": Image rotated and saved! Backup created: ";

static std::vector<BatchCase> RunCases()
{
    std::string tooLong(256, 'x');
    return {
        {"one file: no progress prefix", {{png600, "a.png"}}, "rotate right a.png", 0,
         {"a.png" + rotated + "a1.png", "1 files: 1 succeeded, 0 failed"}, {}, {"a.png", "a1.png"}},
        {"a pattern in name order, letter case aside; failures among good files, counted, nothing written",
         {{png600, "a.png"}, {png72, "b72.png"}, {png600, "B2.png"}, {png600, "note.txt"}}, "rotate left *", 1,
         {"[1/4] a.png" + rotated + "a1.png", "[2/4] B2.png" + rotated + "B21.png", "4 files: 2 succeeded, 2 failed"},
         {"[3/4] b72.png: The image must have a resolution of 600 DPI. Detected resolution: 72 x 72 DPI",
          "[4/4] note.txt: Please select a valid image"},
         {"B2.png", "B21.png", "a.png", "a1.png", "b72.png", "note.txt"}},
        {"a file named twice, by any spelling or pattern, is processed once; ? is one character",
         {{png600, "a.png"}, {png600, "ab.png"}, {png600, "c.png"}}, "rotate right a.png A.PNG .\\a.png ?.png c.png", 0,
         {"[1/2] a.png" + rotated + "a1.png", "[2/2] c.png" + rotated + "c1.png", "2 files: 2 succeeded, 0 failed"}, {},
         {"a.png", "a1.png", "ab.png", "c.png", "c1.png"}},
        {"names and patterns that match nothing, or too long a path, are failures in their place",
         {{png600, "a.png"}}, "rotate right missing.png a.png z*.bmp " + tooLong + ".png", 1,
         {"[2/4] a.png" + rotated + "a1.png", "4 files: 1 succeeded, 3 failed"},
         {"[1/4] missing.png: No file matches this name", "[3/4] z*.bmp: No file matches this name",
          "[4/4] " + tooLong + ".png: Error processing the image"},
         {"a.png", "a1.png"}},
        {"erosion takes BMP files only, with its page's warning", {{png600, "a.png"}}, "erode 3 a.png", 1,
         {"1 files: 0 succeeded, 1 failed"}, {"a.png: Please select a valid monochrome BMP file"}, {"a.png"}},
        {"margins takes BMP files only, with its page's warning", {{png600, "a.png"}}, "margins top-left 10 -10 a.png", 1,
         {"1 files: 0 succeeded, 1 failed"}, {"a.png: Please select a valid BMP file"}, {"a.png"}},
        {"a pattern leaves out the numbered backups of its matches and counts them; a file named is taken",
         {{png600, "a.png"}, {png600, "a1.png"}, {png600, "a12.png"}, {png600, "b1.png"}}, "rotate right *.png a12.png",
         0,
         {"[1/3] a.png" + rotated + "a2.png", "[2/3] b1.png" + rotated + "b11.png", "[3/3] a12.png" + rotated + "a121.png",
          "3 files: 3 succeeded, 0 failed, 1 backups left out"},
         {},
         {"a.png", "a1.png", "a12.png", "a121.png", "a2.png", "b1.png", "b11.png"}},
        {"--include-backups takes them too", {{png600, "a.png"}, {png600, "a1.png"}},
         "--include-backups rotate right *.png", 0,
         {"[1/2] a.png" + rotated + "a2.png", "[2/2] a1.png" + rotated + "a11.png", "2 files: 2 succeeded, 0 failed"}, {},
         {"a.png", "a1.png", "a11.png", "a2.png"}},
        {"deskew: a straight page and pages without lines succeed with nothing written, no backup",
         {{"skew_0.02.png", "a.png"}, {"blank_600.png", "b.png"}, {"photo_600.jpg", "c.jpg"}}, "deskew --max 10 *", 0,
         {"[1/3] a.png: Already straight", "[2/3] b.png: No text lines found, left as it was",
          "[3/3] c.jpg: No text lines found, left as it was", "3 files: 3 succeeded, 0 failed"},
         {}, {"a.png", "b.png", "c.jpg"}},
        {"the clean-up: a blank page and a photo with nothing of the kind asked for succeed with nothing written",
         {{"blank_600.png", "b.png"}, {"rgb_600.png", "c.png"}}, "clean b.png c.png", 0,
         {"[1/2] b.png: Nothing to clean, left as it was", "[2/2] c.png: Nothing to clean, left as it was",
          "2 files: 2 succeeded, 0 failed"},
         {}, {"b.png", "c.png"}},
        {"despeckle and borders say what they found nothing of", {{"blank_600.png", "b.png"}},
         "despeckle --size 12 b.png", 0, {"b.png: No specks found, left as it was", "1 files: 1 succeeded, 0 failed"}, {},
         {"b.png"}},
        {"borders finds none on a blank page", {{"blank_600.png", "b.png"}}, "borders b.png", 0,
         {"b.png: No black edges found, left as it was", "1 files: 1 succeeded, 0 failed"}, {}, {"b.png"}},
        {"check: format, size, resolution and what takes each file, or the gate's refusal; nothing written",
         {{png600, "a.png"}, {png72, "b72.png"}, {"mono_black_first_600.bmp", "m.bmp"}, {png600, "note.txt"}},
         "check *", 1,
         {"[1/4] a.png: PNG, 100 x 50 pixels, 600 x 600 DPI: rotate, scale, deskew, despeckle, borders and clean take it; erode and margins "
          "take BMP files only",
          "[3/4] m.bmp: BMP, 100 x 50 pixels, 600 x 600 DPI: every operation takes it", "4 files: 2 succeeded, 2 failed"},
         {"[2/4] b72.png: PNG, 100 x 50 pixels, 72 x 72 DPI: The image must have a resolution of 600 DPI. Detected "
          "resolution: 72 x 72 DPI",
          "[4/4] note.txt: Please select a valid image"},
         {"a.png", "b72.png", "m.bmp", "note.txt"}},
        {"a page a killed run left set aside: named, it comes back before it is turned",
         {{png600, "~a.png.1A2B.lumivex-original"}}, "rotate right a.png", 0,
         {"a.png" + rotated + "a1.png", "1 files: 1 succeeded, 0 failed"}, {}, {"a.png", "a1.png"}},
        {"check names a set-aside page and moves nothing", {{png600, "~a.png.1A2B.lumivex-original"}}, "check a.png", 1,
         {"1 files: 0 succeeded, 1 failed"},
         {"a.png: set aside by an interrupted run as ~a.png.1A2B.lumivex-original; any operation on the page puts it "
          "back"},
         {"~a.png.1A2B.lumivex-original"}},
        {"--version", {}, "--version", 0, {"lumivex-batch " LUMIVEX_VERSION_TEXT}, {}, {}},
    };
}

TEST(BatchTool, ExitStatusLinesAndFilesForEachKindOfRun)
{
    for (const BatchCase& c : RunCases()) ExpectRun(c);
}

// The win tests run with an English locale; CTest's batch.it_IT runs this one with an Italian one.
TEST(BatchToolInItalian, ReportsInItalianWhereTheWindowWould)
{
    char language[10] = "";
    GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SISO639LANGNAME, language, sizeof language);
    if (std::strcmp(language, "it") != 0) GTEST_SKIP() << "needs an Italian locale: CTest's batch.it_IT";
    ExpectRun({"Italian where the window speaks Italian", {{png600, "a.png"}, {png72, "b72.png"}},
               "rotate right a.png b72.png", 1,
               {"[1/2] a.png: Immagine ruotata e salvata! Backup creato: a1.png", "2 file: 1 riusciti, 1 non riusciti"},
               {"[2/2] b72.png: L'immagine deve avere una risoluzione di 600 DPI. Risoluzione rilevata: 72 x 72 DPI"},
               {"a.png", "a1.png", "b72.png"}});
    ExpectRun({"deskew and check in Italian", {{"skew_0.02.png", "a.png"}, {"blank_600.png", "b.png"}},
               "deskew a.png b.png", 0,
               {"[1/2] a.png: Gi\xE0 diritta", "[2/2] b.png: Nessuna riga di testo trovata, lasciata com'era",
                "2 file: 2 riusciti, 0 non riusciti"},
               {}, {"a.png", "b.png"}});
    ExpectRun({"check in Italian", {{"mono_black_first_600.bmp", "m.bmp"}}, "check m.bmp", 0,
               {"m.bmp: BMP, 100 x 50 pixel, 600 x 600 DPI: ogni operazione la accetta",
                "1 file: 1 riusciti, 0 non riusciti"},
               {}, {"m.bmp"}});
    ExpectRun({"usage errors in Italian", {{"mono_black_first_600.bmp", "m.bmp"}}, "erode 0 m.bmp", 2, {},
               {"lumivex-batch: erode: PIXEL deve essere un numero intero da 1 a 50, non \"0\"",
                "Per l'uso, eseguire \"lumivex-batch --help\"."},
               {"m.bmp"}});
    ExpectRun({"the clean-up in Italian", {{"cleanup_dusty.png", "a.png"}, {"blank_600.png", "b.png"}},
               "despeckle a.png b.png", 0,
               {"[1/2] a.png: 60 puntini rimossi. Backup creato: a1.png",
                "[2/2] b.png: Nessun puntino trovato, lasciata com'era", "2 file: 2 riusciti, 0 non riusciti"},
               {}, {"a.png", "a1.png", "b.png"}});
    // The angle with the Italian decimal mark.
    std::string root = FolderWith({{"skew_1.35.png", "a.png"}});
    EXPECT_EQ(RunBatchTool(root, "--help").out.at(0), "Uso:");
    BatchRun run = RunBatchTool(root, "deskew a.png");
    ASSERT_EQ(run.out.size(), 2u);
    EXPECT_EQ(run.out[0].rfind("a.png: Raddrizzata di -1,3", 0), 0u) << run.out[0];
    EXPECT_NE(run.out[0].find(" gradi. Backup creato: a1.png"), std::string::npos) << run.out[0];
}

TEST(BatchTool, DecimalCommaScalesByTheFactorGiven)
{
    std::string root = FolderWith({{png600, "a.png"}});
    ASSERT_EQ(RunBatchTool(root, "scale 0,5 2,25 a.png").status, 0u);
    // The PNG header's own width and height, big-endian at bytes 16 and 20: 100 x 50 became 50 x 113.
    std::vector<unsigned char> png = ReadBytes(root + "\\files\\a.png");
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ((png[16] << 24) | (png[17] << 16) | (png[18] << 8) | png[19], 50);
    EXPECT_EQ((png[20] << 24) | (png[21] << 16) | (png[22] << 8) | png[23], 113);
}

TEST(BatchTool, UsageErrorsNameTheParameterAndItsRangeAndProcessNothing)
{
    const std::string margin = "a whole number of tenths of a millimetre from -500 to 500";
    const std::string factor = "a number from 0.0001 to 10, with \".\" or \",\" as the decimal mark";
    const std::string degrees = "a number of degrees from 0.1 to 10, with \".\" or \",\" as the decimal mark";
    const std::pair<std::string, std::string> cases[] = {
        {"", "no operation given (rotate, erode, margins, scale, deskew, despeckle, borders, clean or check)"},
        {"flip a.png",
         "unknown operation \"flip\" (rotate, erode, margins, scale, deskew, despeckle, borders, clean or check)"},
        {"rotate up a.png", "rotate: the direction must be right or left, not \"up\""},
        {"rotate right", "rotate: no FILE given"},
        {"erode 0 m.bmp", "erode: PIXELS must be a whole number from 1 to 50, not \"0\""},
        {"erode 51 m.bmp", "erode: PIXELS must be a whole number from 1 to 50, not \"51\""},
        {"erode 2.5 m.bmp", "erode: PIXELS must be a whole number from 1 to 50, not \"2.5\""},
        {"margins centre 0 0 m.bmp",
         "margins: the corner must be top-left, top-right, bottom-left or bottom-right, not \"centre\""},
        {"margins top-left 501 0 m.bmp", "margins: HORIZONTAL must be " + margin + ", not \"501\""},
        {"margins top-left 0 -501 m.bmp", "margins: VERTICAL must be " + margin + ", not \"-501\""},
        {"margins top-left 0", "margins: VERTICAL is missing: " + margin},
        {"scale 0.00009 1 a.png", "scale: X must be " + factor + ", not \"0.00009\""},
        {"scale 1 10,01 a.png", "scale: Y must be " + factor + ", not \"10,01\""},
        {"scale 1e1 1 a.png", "scale: X must be " + factor + ", not \"1e1\""},
        {"--jobs 0 rotate right a.png", "--jobs must be a whole number from 1 to 64, not \"0\""},
        {"rotate right a.png --jobs 65", "--jobs must be a whole number from 1 to 64, not \"65\""},
        {"--fast rotate right a.png", "unknown option \"--fast\""},
        {"deskew --max 10,5 a.png", "--max must be " + degrees + ", not \"10,5\""},
        {"deskew a.png --max 0.05", "--max must be " + degrees + ", not \"0.05\""},
        {"deskew --max", "--max is missing its number: " + degrees},
        {"--max 3 rotate right a.png", "--max is an option of deskew and clean only"},
        {"despeckle --max 3 a.png", "--max is an option of deskew and clean only"},
        {"deskew --size 30 a.png", "--size is an option of despeckle and clean only"},
        {"clean --size 0 a.png", "--size must be a whole number of pixels from 1 to 10000, not \"0\""},
        {"despeckle --size 10001 a.png", "--size must be a whole number of pixels from 1 to 10000, not \"10001\""},
        {"check", "check: no FILE given"},
    };
    std::string root = FolderWith({{png600, "a.png"}, {"mono_black_first_600.bmp", "m.bmp"}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        BatchRun run = RunBatchTool(root, c.first);
        EXPECT_EQ(run.status, 2u);
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(run.err, (std::vector<std::string>{"lumivex-batch: " + c.second,
                                                     "Run \"lumivex-batch --help\" for the usage."}));
    }
    EXPECT_EQ(FolderEntries(root + "\\files"), (std::vector<std::string>{"a.png", "m.bmp"}));
}

// The angle in "NAME: Straightened by ANGLE degrees. Backup created: ...", or NaN.
static double StraightenedBy(const std::string& line)
{
    const std::string by = ": Straightened by ";
    size_t at = line.find(by);
    return at == std::string::npos ? std::nan("") : std::strtod(line.c_str() + at + by.size(), nullptr);
}

static long long BlackPixels(const MagickImage& image)
{
    long long black = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) black += image.Rgb(x, y) == 0;
    return black;
}

// Text pages turned by known angles (in their names) are turned back within 0.05 degrees: a second
// run finds them straight. A 1-bit page keeps exactly its black pixels (its text stays far from the
// edges) and nothing else; a colour page stays in its colours, white where no source pixel falls; a
// BMP comes back as the program's 1-bit BMP.
TEST(BatchTool, DeskewTurnsTextPagesBackWithinFiveHundredthsOfADegree)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    const std::pair<const char*, double> pages[] = {
        {"skew_-4.60.png", -4.60}, {"skew_-2.15.png", -2.15}, {"skew_-0.85.png", -0.85}, {"skew_0.20.png", 0.20},
        {"skew_1.35.png", 1.35},
        {"skew_3.90.png", 3.90}, {"skew_colour_-2.70.png", -2.70}, {"skew_colour_4.40.png", 4.40}};
    Files files;
    for (const auto& page : pages) files.push_back({page.first, page.first});
    std::string root = FolderWith(files);
    // The colour page as a BMP of its own two colours (1-bit), written by the platform for this test.
    BitmapPtr colour = LoadImageFile(FixturePath("skew_colour_4.40.png"));
    ASSERT_TRUE(colour);
    SaveImageFile(*colour, root + "\\files\\z.bmp", L"image/bmp");
    colour.reset();
    BatchRun run = RunBatchTool(root, "deskew skew_* z.bmp");
    EXPECT_EQ(run.status, 0u);
    EXPECT_TRUE(run.err.empty());
    ASSERT_EQ(run.out.size(), std::size(pages) + 2);
    double worst = 0, total = 0;
    for (const auto& [fixture, skew] : pages) {
        std::string name = fixture, stem = name.substr(0, name.size() - 4);
        SCOPED_TRACE(name);
        auto line = std::find_if(run.out.begin(), run.out.end(), [&](const std::string& text) {
            return text.find("] " + name + ": ") != std::string::npos;
        });
        ASSERT_NE(line, run.out.end());
        double error = std::fabs(StraightenedBy(*line) + skew);  // the turn undoes the skew
        EXPECT_LE(error, 0.05) << *line;
        worst = std::max(worst, error);
        total += error;
        EXPECT_NE(line->find("Backup created: " + stem + "1.png"), std::string::npos) << *line;
        EXPECT_TRUE(ReadBytes(root + "\\files\\" + stem + "1.png") == ReadBytes(FixturePath(name)));
        MagickImage before = ReadWithImageMagick(FixturePath(name)), after = ReadWithImageMagick(root + "\\files\\" + name);
        ASSERT_EQ(after.format, "PNG");
        EXPECT_EQ(after.width, 2400);
        EXPECT_EQ(after.height, 1400);
        EXPECT_NEAR(after.dpiX, 600, 0.01);
        EXPECT_NEAR(after.dpiY, 600, 0.01);
        std::set<unsigned> colours;
        int leastAlpha = 255;
        for (int y = 0; y < after.height; ++y) {
            for (int x = 0; x < after.width; ++x) {
                colours.insert(after.Rgb(x, y));
                leastAlpha = std::min(leastAlpha, after.Alpha(x, y));
            }
        }
        EXPECT_EQ(leastAlpha, 255) << "every pixel opaque";
        if (name.find("colour") == std::string::npos) {
            EXPECT_EQ(colours, (std::set<unsigned>{0x000000, 0xFFFFFF}));
            EXPECT_EQ(BlackPixels(after), BlackPixels(before));
        } else {
            // Cream inside, white in the corners the turned page leaves, and the blue of the text.
            EXPECT_EQ(after.Rgb(0, 0), 0xFFFFFFu);
            EXPECT_EQ(after.Rgb(1200, 1300), 0xF4ECD8u);
            EXPECT_TRUE(colours.count(0x1A2A6C)) << colours.size();
        }
    }
    std::printf("deskew over %zu fixture pages: worst error %.2f, mean %.3f degrees (the lines give hundredths)\n",
                std::size(pages), worst, total / static_cast<double>(std::size(pages)));
    EXPECT_NEAR(StraightenedBy(run.out[std::size(pages)]), -4.40, 0.05) << run.out[std::size(pages)];
    ExpectMonochromeBmp(root + "\\files\\z.bmp", 2400, 1400);
    std::vector<std::string> names = FolderEntries(root + "\\files");
    BatchRun again = RunBatchTool(root, "deskew skew_*-?.??.png skew_?.??.png skew_colour_?.??.png");
    for (const std::string& line : again.out) {
        bool summary = line.find(" files: ") != std::string::npos;
        EXPECT_TRUE(summary || line.find(": Already straight") != std::string::npos) << line;
    }
    EXPECT_EQ(again.out.size(), std::size(pages) + 1);
    EXPECT_EQ(FolderEntries(root + "\\files"), names);
}

// A large-format drawing, 20000 x 20000 pixels at 600 DPI: black bands of 200 rows along the top and
// bottom, an 8-pixel vertical rule every 1,000 pixels, no text. It is straight, and stays as it is.
TEST(BatchTool, StraightLargeDrawingIsLeftAsItIs)
{
    const int side = 20000;
    BitmapPtr drawing = NewBitmap(side, side, PixelFormat1bppIndexed, 600, 600);
    ASSERT_TRUE(drawing);
    SetPaletteEntries(*drawing, {0xFFFFFFFF, 0xFF000000});
    if (LockedPixels bits = LockPixels(*drawing, Gdiplus::ImageLockModeWrite, PixelFormat1bppIndexed)) {
        for (int y = 0; y < side; ++y) {
            bool band = y < 200 || y >= side - 200;
            for (int byte = 0; byte < side / 8; ++byte) PixelRow(*bits, y)[byte] = band || byte % 125 == 0 ? 0xFF : 0;
        }
    }
    std::string root = FolderWith({});
    SaveImageFile(*drawing, root + "\\files\\d.png", L"image/png");
    drawing.reset();
    std::vector<unsigned char> before = ReadBytes(root + "\\files\\d.png");
    EXPECT_EQ(RunBatchTool(root, "deskew d.png").out,
              (std::vector<std::string>{"d.png: Already straight", "1 files: 1 succeeded, 0 failed"}));
    EXPECT_EQ(RunBatchTool(root, "clean d.png").out,
              (std::vector<std::string>{"d.png: Nothing to clean, left as it was", "1 files: 1 succeeded, 0 failed"}));
    EXPECT_TRUE(ReadBytes(root + "\\files\\d.png") == before);
    EXPECT_EQ(FolderEntries(root + "\\files"), std::vector<std::string>{"d.png"});
}

// The dusty fixture page (tests/fixtures/make_cleanup_fixtures.sh): borders then despeckle leave the
// text page pixel for pixel; clean gives the very bytes of its steps with one backup instead of
// three, on the skewed scan too; a colour page keeps its colours, the dust made white.
TEST(BatchTool, CleanUpLeavesTheTextPixelForPixelAndIsItsStepsInOnePass)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string root = FolderWith({{"cleanup_dusty.png", "d.png"}, {"cleanup_dusty.png", "e.png"},
                                   {"cleanup_skewed.png", "s.png"}, {"cleanup_skewed.png", "t.png"},
                                   {"cleanup_dusty_colour.png", "c.png"}});
    std::string files = root + "\\files\\";
    const std::vector<std::pair<std::string, std::vector<std::string>>> steps = {
        {"borders d.png", {"d.png: Black edges removed. Backup created: d1.png"}},
        {"despeckle d.png", {"d.png: 60 specks removed. Backup created: d2.png"}},
        {"clean e.png", {"e.png: 60 specks and the black edges removed. Backup created: e1.png"}},
        {"deskew s.png", {}}, {"borders s.png", {}}, {"despeckle s.png", {}}, {"clean t.png", {}},
        {"despeckle c.png", {"c.png: 60 specks removed. Backup created: c1.png"}},
    };
    for (const auto& [arguments, lines] : steps) {
        BatchRun run = RunBatchTool(root, arguments);
        EXPECT_EQ(run.status, 0u) << arguments;
        EXPECT_TRUE(run.err.empty()) << arguments;
        ASSERT_EQ(run.out.size(), 2u) << arguments;
        if (!lines.empty()) {
            EXPECT_EQ(run.out[0], lines[0]);
        }
    }
    EXPECT_TRUE(ReadBytes(files + "e.png") == ReadBytes(files + "d.png"));
    EXPECT_TRUE(ReadBytes(files + "t.png") == ReadBytes(files + "s.png"));
    EXPECT_EQ(FolderEntries(root + "\\files"),
              (std::vector<std::string>{"c.png", "c1.png", "d.png", "d1.png", "d2.png", "e.png", "e1.png", "s.png",
                                        "s1.png", "s2.png", "s3.png", "t.png", "t1.png"}));
    MagickImage text = ReadWithImageMagick(FixturePath("cleanup_text.pbm"));
    MagickImage dusty = ReadWithImageMagick(FixturePath("cleanup_dusty.png"));
    MagickImage bordered = ReadWithImageMagick(files + "d2.png");  // the backup before despeckle
    MagickImage cleaned = ReadWithImageMagick(files + "d.png"), colour = ReadWithImageMagick(files + "c.png");
    ASSERT_EQ(cleaned.width, text.width);
    ASSERT_EQ(colour.height, text.height);
    EXPECT_NEAR(colour.dpiX, 600, 0.01);
    long long differing = 0, colourWrong = 0, dust = 0;
    for (int y = 0; y < text.height; ++y) {
        for (int x = 0; x < text.width; ++x) {
            differing += cleaned.Rgb(x, y) != text.Rgb(x, y);
            // Specks white, the edges and the text as they were: blue on cream.
            bool speck = bordered.Rgb(x, y) == 0 && text.Rgb(x, y) != 0;
            bool ink = dusty.Rgb(x, y) == 0 && !speck;
            dust += speck;
            colourWrong += colour.Rgb(x, y) != (speck ? 0xFFFFFFu : ink ? 0x1A2A6Cu : 0xF4ECD8u);
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(colourWrong, 0);
    EXPECT_GT(dust, 60);
}

// Mixed formats on four threads against one: the same lines in the same order and the same bytes in
// every file, backups included. x.png (whose backups x1 to x10 exist but x1 is itself named) and
// x1.png would both take x11.png first: one thread gives x11 to x.png and x12 to x1.png.
TEST(BatchTool, FourJobsGiveTheLinesAndBytesOfOne)
{
    Files files;
    const char* fixtures[] = {"rgb_600.png", "colour_600.jpg", "rgb24_600.bmp", "mono_white_first_600.bmp",
                              "grey8_600.bmp", "rgba_600.png"};
    for (int copy = 0; copy < 4; ++copy) {
        for (const char* fixture : fixtures) files.push_back({fixture, "p" + std::to_string(copy) + "_" + fixture});
    }
    for (int n = 0; n <= 10; ++n) files.push_back({png600, n ? "x" + std::to_string(n) + ".png" : "x.png"});
    for (const char* page : {"skew_-2.15.png", "skew_3.90.png", "skew_colour_-2.70.png", "skew_0.02.png", "blank_600.png",
                             "cleanup_skewed.png", "cleanup_dusty_colour.png"})
        files.push_back({page, std::string("s_") + page});
    std::string root = ScratchFolder();
    std::string one = FolderWith(files, root + "\\one"), four = FolderWith(files, root + "\\four");
    const std::string arguments = "rotate right p* x.png x1.png";
    BatchRun oneJob = RunBatchTool(one, "--jobs 1 " + arguments);
    BatchRun fourJobs = RunBatchTool(four, "--jobs 4 " + arguments);
    EXPECT_EQ(oneJob.status, 0u);
    ASSERT_EQ(oneJob.out.size(), 4 * 6 + 3u);
    EXPECT_EQ(oneJob.out[24], "[25/26] x.png" + rotated + "x11.png");
    EXPECT_EQ(oneJob.out[25], "[26/26] x1.png" + rotated + "x12.png");
    EXPECT_EQ(fourJobs.out, oneJob.out);
    EXPECT_EQ(fourJobs.err, oneJob.err);
    BatchRun oneClean = RunBatchTool(one, "--jobs 1 clean s_*"), fourClean = RunBatchTool(four, "--jobs 4 clean s_*");
    EXPECT_EQ(oneClean.status, 0u);
    EXPECT_EQ(oneClean.out.size(), 7 + 1u);
    EXPECT_EQ(fourClean.out, oneClean.out);
    std::vector<std::string> names = FolderEntries(one + "\\files");
    ASSERT_EQ(FolderEntries(four + "\\files"), names);
    for (const std::string& name : names) {
        EXPECT_TRUE(ReadBytes(one + "\\files\\" + name) == ReadBytes(four + "\\files\\" + name)) << name;
    }
}

// Files whose first free backup names meet are planned in order on one thread, the others each on its
// own: a.png (a2 to a10 taken) and a1.png both go for a11.png.
TEST(BatchTool, FilesWhoseBackupNamesWouldMeetArePlannedOnOneThread)
{
    std::string folder = ScratchFolder();
    for (int n = 0; n <= 11; ++n) WriteBytes(folder + "\\a" + (n ? std::to_string(n) : "") + ".png", {0});
    std::vector<BatchFile> files;
    for (const char* name : {"a.png", "c.png", "a1.png", "a11.png"}) files.push_back({L"", folder + "\\" + name, nullptr});
    // a.png and a1.png both go for a12.png; the one that comes second moves on, and may reach a111.png,
    // which a11.png goes for.
    EXPECT_EQ(PlanUnits(files), (std::vector<std::vector<size_t>>{{0, 2, 3}, {1}}));
    DeleteFileA((folder + "\\a10.png").c_str());  // a.png now goes for a10.png
    EXPECT_EQ(PlanUnits(files), (std::vector<std::vector<size_t>>{{0}, {1}, {2}, {3}}));
}

// "ż" is not in the ANSI code page, whose best fit for it is "z": the tool must neither process z.png
// in its place nor take the "?" of a lossy conversion for a wildcard.
TEST(BatchTool, NameOutsideTheAnsiCodePageIsRefusedNotMappedToAnother)
{
    if (GetACP() == CP_UTF8) GTEST_SKIP() << "every name fits a UTF-8 code page";
    std::string root = FolderWith({{png600, "z.png"}, {png600, "zz.png"}});
    ASSERT_TRUE(CopyFileW(Wide(root + "\\files\\z.png").c_str(), Wide(root + "\\files\\\u017C.png").c_str(), FALSE));
    std::vector<unsigned char> untouched = ReadBytes(root + "\\files\\z.png");
    BatchRun run = RunBatchTool(root, "rotate right \u017C.png");
    EXPECT_EQ(run.status, 1u);
    EXPECT_EQ(run.out, std::vector<std::string>{"1 files: 0 succeeded, 1 failed"});
    EXPECT_EQ(run.err, std::vector<std::string>{"?.png: Error processing the image"});
    EXPECT_EQ(FolderEntries(root + "\\files").size(), 3u) << "no backup of any file";
    EXPECT_TRUE(ReadBytes(root + "\\files\\z.png") == untouched);
}

// A failure that a file call caused says why in the system's own words: here a page another program
// holds open against being replaced.
TEST(BatchTool, FailuresOfFileCallsSayWhy)
{
    std::string root = FolderWith({{png600, "a.png"}});
    std::string page = root + "\\files\\a.png";
    HandlePtr held(CreateFileA(page.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    BatchRun run = RunBatchTool(root, "rotate right a.png");
    held.reset();
    char description[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_SHARING_VIOLATION, 0,
                   description, sizeof description, nullptr);
    std::string reason = description;
    reason.erase(reason.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ(run.status, 1u);
    EXPECT_EQ(run.err, std::vector<std::string>{"a.png: Error processing the image (" + reason + ")"});
    EXPECT_EQ(FolderEntries(root + "\\files"), std::vector<std::string>{"a.png"});
}

// One page whose memory runs out is that page's failure; the run goes on with the others on every
// thread. The large page's skew search asks for more than the small pages ever do at once.
TEST(BatchTool, OnePageOutOfMemoryFailsAloneAndTheRunGoesOn)
{
    std::string root = FolderWith({{"skew_1.35.png", "a.png"}, {"skew_-0.85.png", "c.png"}});
    std::string large = root + "\\files\\b.png";
    {
        BitmapPtr page = NewBitmap(20000, 20000, PixelFormat1bppIndexed, 600, 600);
        SaveImageFile(*page, large, L"image/png");
    }
    std::vector<unsigned char> before = ReadBytes(large);
    BatchCommand command;
    command.operation = Operation::Deskew;
    command.jobs = 2;
    std::vector<BatchFile> files;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        files.push_back({Wide(name), root + "\\files\\" + name, nullptr});
    }
    size_t succeeded = 0;
    {
        FailingAllocations failing(8'000'000);
        succeeded = RunBatch(command, files, 0);
    }
    EXPECT_EQ(succeeded, 2u);
    EXPECT_EQ(ReadBytes(large), before);
    EXPECT_EQ(FolderEntries(root + "\\files"),
              (std::vector<std::string>{"a.png", "a1.png", "b.png", "c.png", "c1.png"}));
}
