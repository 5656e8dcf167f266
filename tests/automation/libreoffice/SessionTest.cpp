// The LibreOffice session end to end: workbooks generated as .xls, .ods and .xlsx, listed, copied, moved,
// renamed, deleted and reordered through the object model, saved, and read back; failure descriptions; and no
// office of ours left running after any test, even when the client dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "OfficeTestSupport.h"
#include "automation/Application.h"
#include "automation/libreoffice/LibreOfficeBackend.h"
#include "automation/libreoffice/Office.h"
#include "automation/libreoffice/OfficeProcess.h"
#include "automation/libreoffice/WarmOffice.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#include "compound/CompoundFile.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"
#include "legacy/SheetListing.h"
#include "transfers/Commands.h"

extern char** environ;

namespace orv::libreoffice {
namespace {

namespace fs = std::filesystem;
using automation::After;
using automation::AutomationError;
using automation::Before;
using automation::Workbook;
using test::CellSpec;
using test::NamesOf;
using test::ReadBack;
using test::SheetNamed;
using test::SheetSpec;

const std::vector<SheetSpec> kSource = {
    {"Alpha", false, {{"1", ""}, {"2", "of:=[.A1]*2"}}},
    {"Hidden", true, {{"x", ""}}},
    {"Beta", false, {{"11", "of:=[$Alpha.A1]+10"}}},
    {"Gamma", false, {{"g", ""}}},
};
const std::vector<SheetSpec> kTarget = {
    {"One", false, {{"1", ""}}},
    {"Two", false, {{"2", ""}}},
    {"Three", false, {{"3", ""}}},
};

fs::path TestRoot() { return fs::path(std::getenv("ORVANDEL_TEST_TMP")); }

class LibreOfficeSession : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!MakeLibreOfficeBackend()->isAvailable(&why))
            GTEST_SKIP() << "LibreOffice cannot run here: " << why;
        m_dir = TestRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }

    void TearDown() override {
        const auto left = OurOfficeProcesses();
        EXPECT_TRUE(left.empty()) << left.size() << " office processes of ours are still running";
        // Do not leave them behind for the rest of the machine either.
        for (pid_t pid : left) ::kill(pid, SIGKILL);
    }

    // The generated workbook `stem`.`format` (stem "source" or "target"), copied into this test's folder.
    fs::path Generated(const std::string& stem, const std::string& format, const std::string& as = "") {
        const fs::path generated = TestRoot() / "generated" / format / (stem + "." + format);
        if (!fs::exists(generated)) {
            const fs::path sources = TestRoot() / "generated" / "fods";
            fs::create_directories(sources);
            std::ofstream(sources / "source.fods") << test::Fods(kSource);
            std::ofstream(sources / "target.fods") << test::Fods(kTarget);
            const std::string failure =
                test::Convert({sources / "source.fods", sources / "target.fods"}, format, generated.parent_path());
            if (!failure.empty()) ADD_FAILURE() << failure;
        }
        const fs::path copy = m_dir / (as.empty() ? stem + "." + format : as);
        fs::copy_file(generated, copy, fs::copy_options::overwrite_existing);
        return copy;
    }

    fs::path Fixture(const std::string& name) {
        const fs::path copy = m_dir / name;
        fs::copy_file(fs::path(ORVANDEL_TEST_LO_FIXTURES) / name, copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
        return copy;
    }

    static std::vector<std::string> Names(Workbook& workbook) {
        std::vector<std::string> names;
        for (int i = 1; i <= workbook.sheetCount(); ++i) names.push_back(workbook.sheetAt(i)->name());
        return names;
    }

    static std::string FailureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const AutomationError& e) {
            return e.what();
        }
        return "";
    }

    std::vector<test::ReadSheet> Reread(const fs::path& workbook) {
        return ReadBack(workbook, m_dir / "scratch");
    }

    fs::path m_dir;
};

using Strings = std::vector<std::string>;

TEST_F(LibreOfficeSession, ListingReadsTheFilesWithoutStartingTheOffice) {
    auto session = MakeLibreOfficeBackend()->Start();
    auto xls = session->Open(Generated("source", "xls").string());
    auto ods = session->Open(Generated("source", "ods").string());
    auto charts = session->Open(Fixture("hidden-veryhidden-chartsheet.xls").string());
    EXPECT_EQ(Names(*xls), (Strings{"Alpha", "Hidden", "Beta", "Gamma"}));
    EXPECT_EQ(Names(*ods), (Strings{"Alpha", "Hidden", "Beta", "Gamma"}));
    EXPECT_EQ(xls->sheetAt(2)->visibility(), automation::SheetVisibility::Hidden);
    EXPECT_EQ(charts->Worksheets().count(), 3);
    EXPECT_EQ(charts->Sheets().count(), 4);
    EXPECT_EQ(charts->Worksheets()(3)->visibility(), automation::SheetVisibility::VeryHidden);
    EXPECT_TRUE(OurOfficeProcesses().empty()) << "a listing started LibreOffice";
    session->Quit();
}

TEST_F(LibreOfficeSession, CopyBetweenXlsWorkbooksLandsAfterTheGivenSheetAndIsSaved) {
    const auto source = Generated("source", "xls");
    const auto target = Generated("target", "xls");
    const auto sourceBefore = fs::last_write_time(source);
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto from = session->Open(source.string());
        auto to = session->Open(target.string());
        auto copy = from->Sheets()("Alpha")->Copy(After{*to->Sheets()("One")});
        EXPECT_EQ(copy->name(), "Alpha");
        from->Sheets()("Gamma")->Copy(After{*to->Sheets()("Three")});
        // A name the target has in another case gets a free one.
        auto second = from->Sheets()("Alpha")->Copy(After{*to->Sheets()(1)});
        EXPECT_EQ(second->name(), "Alpha (2)");
        EXPECT_EQ(Names(*to), (Strings{"One", "Alpha (2)", "Alpha", "Two", "Three", "Gamma"}));
        to->Save();
        session->Quit();
    }
    const auto back = Reread(target);
    EXPECT_EQ(NamesOf(back), (Strings{"One", "Alpha (2)", "Alpha", "Two", "Three", "Gamma"}));
    EXPECT_EQ(SheetNamed(back, "Alpha").values, (Strings{"1", "2"}));
    EXPECT_EQ(SheetNamed(back, "Alpha").formulas[1], "of:=[.A1]*2");
    EXPECT_EQ(SheetNamed(back, "Gamma").values, (Strings{"g"}));
    EXPECT_EQ(fs::last_write_time(source), sourceBefore) << "a copy must not save its source";
}

TEST_F(LibreOfficeSession, TheListingAndCopyCyclesRunThroughTheApplicationInstance) {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(MakeLibreOfficeBackend());
    const auto source = Generated("source", "xls");
    const auto target = Generated("target", "xls");

    // The listing cycle: open, Worksheets.count and names, Quit, without starting LibreOffice.
    auto lister = automation::OpenWorkbookInstance(registry, target.string());
    auto listed = lister->Workbooks()(lister->Workbooks().count());
    Strings names;
    for (int i = 1; i <= listed->Worksheets().count(); ++i) names.push_back(listed->Worksheets()(i)->name());
    EXPECT_EQ(names, (Strings{"One", "Two", "Three"}));
    EXPECT_TRUE(OurOfficeProcesses().empty());
    lister->Quit();

    // The copy cycle of a transfer: both workbooks in one instance, copy after the selected sheet, save,
    // quit.
    auto app = automation::OpenWorkbookInstance(registry, source.string());
    auto from = app->Workbooks()(app->Workbooks().count());
    auto to = app->Workbooks().Open(target.string());
    app->setDisplayAlerts(false);
    from->Sheets()(4)->Copy(After{*to->Sheets()(2)});
    to->Save();
    app->Quit();
    EXPECT_TRUE(OurOfficeProcesses().empty());
    const auto back = legacy::ListSheets(target.string(), automation::FileFormat::Xls);
    ASSERT_TRUE(back.has_value());
    names.clear();
    for (const auto& sheet : *back) names.push_back(sheet.name);
    EXPECT_EQ(names, (Strings{"One", "Two", "Gamma", "Three"}));
}

TEST_F(LibreOfficeSession, CopyIntoXlsKeepsTheValuesOfFormulasThatReferToTheSource) {
    const auto target = Generated("target", "xls");
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto from = session->Open(Generated("source", "xls").string());
        auto to = session->Open(target.string());
        const std::string notice =
            FailureOf([&] { from->Sheets()("Beta")->Copy(After{*to->Sheets()("Two")}); });
        EXPECT_NE(notice.find(
                      "The sheet \"Beta\" was copied into \"target.xls\", but 1 of its formulas referred to "
                      "other sheets of \"source.xls\" (first: A1 "),
                  std::string::npos)
            << notice;
        EXPECT_NE(notice.find("these cells now hold their values"), std::string::npos) << notice;
        to->Save();
        session->Quit();
    }
    const auto beta = SheetNamed(Reread(target), "Beta");
    EXPECT_EQ(beta.values, (Strings{"11"}));
    EXPECT_EQ(beta.formulas, (Strings{""}));
}

// Sheets copied together into an .xls that holds their names: the import's links between them lead to the
// copies, so nothing has to be kept as a value, and a hidden sheet's copy stays hidden.
TEST_F(LibreOfficeSession, SheetsCopiedTogetherReferToEachOthersCopies) {
    const auto target = Generated("source", "xls", "clash.xls");
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto from = session->Open(Generated("source", "xls").string());
        auto to = session->Open(target.string());
        const auto copies = from->CopySheets({from->Sheets()("Alpha"), from->Sheets()("Hidden"), from->Sheets()("Beta")},
                                             After{*to->Sheets()("Gamma")});
        ASSERT_EQ(copies.size(), 3u);
        EXPECT_EQ(copies[2]->name(), "Beta (2)");
        to->Save();
        session->Quit();
    }
    const auto back = Reread(target);
    EXPECT_EQ(NamesOf(back), (Strings{"Alpha", "Hidden", "Beta", "Gamma", "Alpha (2)", "Hidden (2)", "Beta (2)"}));
    const auto beta = SheetNamed(back, "Beta (2)");
    EXPECT_EQ(beta.values, (Strings{"11"}));
    EXPECT_EQ(beta.formulas, (Strings{"of:=[$'Alpha (2)'.A1]+10"}));
    EXPECT_TRUE(SheetNamed(back, "Hidden (2)").hidden);
}

// The command-line tool does what the window does with such a copy: saves it, keeps a moved sheet in its
// source, and says so with an exit status of its own.
TEST_F(LibreOfficeSession, TheToolSavesACopyThatCouldNotBeFaithfulAndSaysSo) {
    for (const std::string command : {"copy", "move"}) {
        SCOPED_TRACE(command);
        const auto source = Generated("source", "xls", command + "-source.xls");
        const auto target = Generated("target", "xls", command + "-target.xls");
        auto registry = std::make_shared<automation::BackendRegistry>();
        registry->Add(MakeLibreOfficeBackend());
        std::ostringstream out, err;
        const int code =
            cli::RunSheetsTool({command, source.string(), "Beta", target.string(), "after", "Two"}, out, err, registry);
        EXPECT_EQ(code, cli::kDoneUnfaithfully) << err.str();
        EXPECT_NE(err.str().find("these cells now hold their values"), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("The copy \"Beta\" was saved in \"" + command + "-target.xls\""), std::string::npos)
            << err.str();
        const auto beta = SheetNamed(Reread(target), "Beta");
        EXPECT_EQ(beta.values, (Strings{"11"}));
        std::vector<std::string> names;
        for (const auto& sheet : Reread(source)) names.push_back(sheet.name);
        EXPECT_NE(std::find(names.begin(), names.end(), "Beta"), names.end()) << "the source lost its sheet";
    }
}

// A new .xlsx workbook gathers an .xls workbook's sheets and an .xlsx one's, whichever comes first: the
// instance brings every workbook to LibreOffice, the new one included, before any is read.
TEST_F(LibreOfficeSession, CombineIntoANewWorkbookTakesWorkbooksOfBothKindsInEitherOrder) {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    registry->Add(MakeLibreOfficeBackend({.serveOoxml = true}));
    const auto xls = Generated("source", "xls");
    const auto xlsx = Generated("target", "xlsx");
    for (const bool xlsFirst : {true, false}) {
        SCOPED_TRACE(xlsFirst ? "the .xls first" : "the .xlsx first");
        const fs::path made = m_dir / (xlsFirst ? "made-1.xlsx" : "made-2.xlsx");
        const fs::path first = xlsFirst ? xls : xlsx, second = xlsFirst ? xlsx : xls;
        std::ostringstream out, err;
        const int code =
            cli::RunSheetsTool({"combine", made.string(), first.string(), second.string()}, out, err, registry);
        EXPECT_EQ(code, 0) << err.str();
        Strings expected;
        for (const auto& sheet : Reread(first)) expected.push_back(sheet.name);
        for (const auto& sheet : Reread(second)) expected.push_back(sheet.name);
        EXPECT_EQ(NamesOf(Reread(made)), expected);
    }
}

// LibreOffice gives a copied sheet an empty module of its own: the code stays behind, and the tool says so
// rather than report a faithful copy. The .xls is the application's; the .ods is made by the engine and
// converted (LibreOffice's own .xls export drops the code names that tie sheets to modules).
TEST_F(LibreOfficeSession, ACopyWhoseCodeStaysBehindIsSaidToBeUnfaithful) {
    const fs::path withCode = m_dir / "code.xlsm";
    fs::copy_file(fs::path(ORVANDEL_OOXML_FIXTURES) / "xlm-macrosheet.xlsm", withCode);
    fs::permissions(withCode, fs::perms::owner_write, fs::perm_options::add);
    {
        auto source = engine::WorkbookDocument::Open(std::string(ORVANDEL_OOXML_FIXTURES) +
                                                     "/chartsheets-213-names-vba.xlsm");
        auto target = engine::WorkbookDocument::Open(withCode.string());
        engine::CopySheet(*source, 1, *target, 0);  // "General", whose module has code
        target->Save();
    }
    ASSERT_EQ(test::Convert({withCode}, "ods", m_dir), "");
    const std::pair<fs::path, std::string> sources[] = {{Fixture("sheet-code-extlinks.xls"), "Output"},
                                                        {m_dir / "code.ods", "General"}};
    for (const auto& [source, sheet] : sources) {
        const std::string format = source.extension().string().substr(1);
        SCOPED_TRACE(format);
        const auto target = Generated("target", format);
        auto registry = std::make_shared<automation::BackendRegistry>();
        registry->Add(MakeLibreOfficeBackend());
        std::ostringstream out, err;
        const int code = cli::RunSheetsTool({"copy", source.string(), sheet, target.string(), "after", "One"},
                                            out, err, registry);
        EXPECT_EQ(code, cli::kDoneUnfaithfully) << err.str();
        EXPECT_NE(err.str().find("its code (the sheet's own module) stayed behind"), std::string::npos) << err.str();
        const auto names = NamesOf(Reread(target));
        EXPECT_NE(std::find(names.begin(), names.end(), sheet), names.end());
    }
}

// LibreOffice drops a link to a third workbook from a copied formula without a word (the formula reads #REF!
// once saved); the copy keeps the source's values instead, and the tool names the cells.
TEST_F(LibreOfficeSession, LinksToOtherWorkbooksThatLibreOfficeDropsKeepTheirValuesAndAreNamed) {
    std::ofstream(m_dir / "other.fods") << test::Fods({{"H1 Gen.", false, {{"5", ""}}}});
    ASSERT_EQ(test::Convert({m_dir / "other.fods"}, "xls", m_dir), "");
    // Relative, as a file beside it would be linked: LibreOffice's .xls export of a long absolute link path
    // writes an empty workbook.
    const std::string link = "['other.xls'#$'H1 Gen.'.A1]";
    std::ofstream(m_dir / "linked.fods") << test::Fods(
        {{"Summary", false, {{"1", ""}}},
         {"Data", false, {{"10", "of:=IF(" + link + "=\"\";\"\";" + link + "*2)"}, {"3", ""}}}});
    for (const std::string format : {"xls", "ods"}) {
        SCOPED_TRACE(format);
        ASSERT_EQ(test::Convert({m_dir / "linked.fods"}, format, m_dir), "");
        const fs::path source = m_dir / ("linked." + format);
        const auto target = Generated("target", format);
        auto registry = std::make_shared<automation::BackendRegistry>();
        registry->Add(MakeLibreOfficeBackend());
        std::ostringstream out, err;
        const int code =
            cli::RunSheetsTool({"copy", source.string(), "Data", target.string(), "after", "One"}, out, err, registry);
        EXPECT_EQ(code, cli::kDoneUnfaithfully) << err.str();
        EXPECT_NE(err.str().find("1 of its formulas lost references that LibreOffice could not carry into \"target." +
                                 format + "\" (first: A1 "),
                  std::string::npos)
            << err.str();
        EXPECT_NE(err.str().find("; cells A1), so these cells now hold their values."), std::string::npos) << err.str();
        const auto copy = SheetNamed(Reread(target), "Data");
        EXPECT_EQ(copy.values, SheetNamed(Reread(source), "Data").values);
        EXPECT_EQ(copy.formulas, (Strings{"", ""}));
    }
}

struct MixedCase {
    const char* from;
    const char* to;
};

class MixedTransfer : public LibreOfficeSession, public ::testing::WithParamInterface<MixedCase> {};

TEST_P(MixedTransfer, CopiesAcrossFormatsInOneInstance) {
    const auto target = Generated("target", GetParam().to);
    {
        auto session = MakeLibreOfficeBackend({.serveOoxml = true})->Start();
        auto from = session->Open(Generated("source", GetParam().from).string());
        auto to = session->Open(target.string());
        from->Sheets()("Alpha")->Copy(After{*to->Sheets()("Two")});
        to->Save();
        session->Quit();
    }
    const auto back = Reread(target);
    EXPECT_EQ(NamesOf(back), (Strings{"One", "Two", "Alpha", "Three"}));
    EXPECT_EQ(SheetNamed(back, "Alpha").values, (Strings{"1", "2"}));
    EXPECT_EQ(SheetNamed(back, "Alpha").formulas[1], "of:=[.A1]*2");
}

INSTANTIATE_TEST_SUITE_P(Formats, MixedTransfer,
                         ::testing::Values(MixedCase{"xls", "xlsx"}, MixedCase{"xlsx", "xls"},
                                           MixedCase{"ods", "xls"}),
                         [](const auto& info) {
                             return std::string(info.param.from) + "_to_" + info.param.to;
                         });

class NameAndStyleConflicts : public LibreOfficeSession, public ::testing::WithParamInterface<const char*> {};

TEST_P(NameAndStyleConflicts, CopiesKeepTheSourceMeaningOfNamesAndSayWhatDiffers) {
    const fs::path sources = m_dir / "fods";
    fs::create_directories(sources);
    std::ofstream(sources / "named.fods")
        << test::Fods({{"Calc", false, {{"2", "", "Marked"}, {"20", "of:=Rate*10"}, {"6", "of:=Other+1"}}},
                       {"Data", false, {{"5"}}}},
                      {{{"Rate", "$Calc.$A$1"}, {"Other", "$Data.$A$1"}}, {{"Marked", "#ff0000"}}});
    std::ofstream(sources / "host.fods")
        << test::Fods({{"One", false, {{"1", "", "Marked"}}}},
                      {{{"Rate", "$One.$A$1"}, {"Other", "$One.$A$1"}}, {{"Marked", "#0000ff"}}});
    ASSERT_EQ(
        test::Convert({sources / "named.fods", sources / "host.fods"}, GetParam(), m_dir),
        "");
    const fs::path target = m_dir / (std::string("host.") + GetParam());
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto from = session->Open((m_dir / (std::string("named.") + GetParam())).string());
        auto to = session->Open(target.string());
        const std::string notice =
            FailureOf([&] { from->Sheets()("Calc")->Copy(After{*to->Sheets()("One")}); });
        EXPECT_NE(notice.find("its formulas use names that \"host." + std::string(GetParam()) +
                              "\" defines differently (the name \"Other\" means "),
                  std::string::npos)
            << notice;
        EXPECT_EQ(notice.find("\"Rate\""), std::string::npos) << "Rate can keep its meaning: " << notice;
        EXPECT_NE(notice.find("the cell styles \"Marked\" look different in"), std::string::npos) << notice;
        to->Save();
        session->Quit();
    }
    const auto calc = SheetNamed(Reread(target), "Calc");
    // Rate keeps the source's meaning (A1 of the copy, 2); Other takes the target's (One.A1, 1), as reported.
    EXPECT_EQ(calc.values, (Strings{"2", "20", "2"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, NameAndStyleConflicts, ::testing::Values("ods", "xls"));

class Rearranging : public LibreOfficeSession, public ::testing::WithParamInterface<const char*> {};

TEST_P(Rearranging, RenameMoveDeleteAndReorderSurviveReopening) {
    const auto path = Generated("target", GetParam());
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto book = session->Open(path.string());
        auto one = book->Sheets()("One");
        auto two = book->Sheets()("Two");
        auto three = book->Sheets()("Three");
        two->setName("Zwei");
        EXPECT_EQ(FailureOf([&] {
                      three->setName("a/b");
                  }).rfind("The sheet \"Three\" cannot be renamed to \"a/b\": ", 0),
                  0u);
        EXPECT_NE(FailureOf([&] { three->setName("ONE"); }), "");
        three->Move(Before{*one});
        EXPECT_EQ(Names(*book), (Strings{"Three", "One", "Zwei"}));
        three->Move(After{*two});
        EXPECT_EQ(Names(*book), (Strings{"One", "Zwei", "Three"}));
        one->Move(After{*three});
        EXPECT_EQ(Names(*book), (Strings{"Zwei", "Three", "One"}));
        // Handles follow their sheets through renames and moves.
        EXPECT_EQ(two->name(), "Zwei");
        EXPECT_EQ(book->Sheets()(3)->name(), "One");
        two->Delete();
        EXPECT_NE(FailureOf([&] { two->name(); }).find("it was deleted"), std::string::npos);
        // A copy within the workbook takes a free name.
        EXPECT_EQ(one->Copy(After{*three})->name(), "One (2)");
        book->Save();
        session->Quit();
    }
    const auto back = Reread(path);
    EXPECT_EQ(NamesOf(back), (Strings{"Three", "One (2)", "One"}));
    EXPECT_EQ(SheetNamed(back, "One").values, (Strings{"1"}));
    EXPECT_EQ(SheetNamed(back, "One (2)").values, (Strings{"1"}));
    EXPECT_EQ(SheetNamed(back, "Three").values, (Strings{"3"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, Rearranging, ::testing::Values("xls", "ods"));

TEST_F(LibreOfficeSession, Excel95WorkbooksAreChangedAndSavedInTheirOwnFormat) {
    const auto path = Fixture("biff5-visibility.xls");
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto book = session->Open(path.string());
        book->Sheets()("Hidden")->setName("Versteckt");
        book->Sheets()("VeryHidden")->Move(Before{*book->Sheets()("Visible")});
        book->Save();
        session->Quit();
    }
    const auto listed = legacy::ListSheets(path.string(), automation::FileFormat::Xls);
    ASSERT_TRUE(listed.has_value());
    std::vector<std::string> names;
    for (const auto& sheet : *listed) names.push_back(sheet.name);
    EXPECT_EQ(names, (Strings{"VeryHidden", "Visible", "Versteckt"}));
    // LibreOffice writes the very hidden sheet, moved to where the active sheet stood, as shown; the backend
    // sets its state right again and makes a visible sheet active.
    EXPECT_EQ((*listed)[0].visibility, automation::SheetVisibility::VeryHidden);
    EXPECT_EQ((*listed)[2].visibility, automation::SheetVisibility::Hidden);
    std::ifstream in(path, std::ios::binary);
    compound::CompoundFile file(
        std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    EXPECT_TRUE(file.ReadRootStream("Book").has_value()) << "saved as Excel 97-2003 instead of Excel 5/95";
    EXPECT_FALSE(file.ReadRootStream("Workbook").has_value());
}

TEST_F(LibreOfficeSession, HiddenSheetsStayHiddenThroughReorderDeleteAndRepeatedSaves) {
    const auto path = Fixture("hidden-veryhidden-chartsheet.xls");
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto book = session->Open(path.string());
        book->Sheets()("Visible")->Move(After{*book->Sheets()("Chart")});
        book->Save();
        book->Sheets()("Chart")->Delete();
        book->Save();
        session->Quit();
    }
    const auto listed = legacy::ListSheets(path.string(), automation::FileFormat::Xls);
    ASSERT_TRUE(listed.has_value());
    const std::vector<legacy::ListedSheet> expected = {
        {"Hidden", automation::SheetKind::Worksheet, automation::SheetVisibility::Hidden},
        {"VeryHidden", automation::SheetKind::Worksheet, automation::SheetVisibility::VeryHidden},
        {"Visible", automation::SheetKind::Worksheet, automation::SheetVisibility::Visible},
    };
    EXPECT_EQ(*listed, expected);
    // LibreOffice itself reads the patched file back, with the hidden sheets hidden.
    const auto back = Reread(path);
    EXPECT_EQ(NamesOf(back), (Strings{"Hidden", "VeryHidden", "Visible"}));
    EXPECT_TRUE(SheetNamed(back, "Hidden").hidden);
    EXPECT_FALSE(SheetNamed(back, "Visible").hidden);
}

TEST_F(LibreOfficeSession, TheLastVisibleSheetCannotBeDeletedOrHidden) {
    auto session = MakeLibreOfficeBackend()->Start();
    auto book = session->Open(Fixture("biff5-visibility.xls").string());
    EXPECT_EQ(
        FailureOf([&] { book->Sheets()("Visible")->Delete(); }),
        "The sheet \"Visible\" cannot be deleted: a workbook must keep at least one visible sheet. Add or "
        "unhide another sheet first.");
    EXPECT_EQ(FailureOf([&] { book->Sheets()("Visible")->setVisibility(automation::SheetVisibility::Hidden); }),
              "The sheet \"Visible\" cannot be hidden: a workbook must keep at least one visible sheet. Show "
              "another sheet first.");
    EXPECT_EQ(book->Sheets()("Visible")->visibility(), automation::SheetVisibility::Visible);
    session->Quit();
}

// A new workbook exists in the office only until its first save writes the file, which never replaces a file
// that took its name meanwhile.
TEST_F(LibreOfficeSession, ANewWorkbookIsWrittenByItsFirstSaveAndNeverOverAFile) {
    auto session = MakeLibreOfficeBackend({.serveOoxml = true})->Start();
    EXPECT_NE(FailureOf([&] { session->Create((m_dir / "none" / "new.ods").string()); })
                  .find("\"new.ods\" cannot be created: the folder \""),
              std::string::npos);
    EXPECT_EQ(FailureOf([&] { session->Create((m_dir / "new.xltm").string()); }),
              "\"new.xltm\" cannot be created: LibreOffice makes no new Excel macro-enabled template (.xltm) "
              "workbooks. Name a new .xlsx, .xlsm, .xls or .ods workbook instead.");
    EXPECT_TRUE(OurOfficeProcesses().empty()) << "a refused workbook started LibreOffice";
    EXPECT_FALSE(fs::exists(m_dir / "none"));

    const auto path = m_dir / "new.ods";
    auto book = session->Create(path.string());
    EXPECT_EQ(book->fullName(), path.string());
    ASSERT_EQ(book->sheetCount(), 1);
    auto only = book->sheetAt(1);
    EXPECT_EQ(FailureOf([&] { only->setVisibility(automation::SheetVisibility::Hidden); }),
              "The sheet \"" + only->name() +
                  "\" cannot be hidden: a workbook must keep at least one visible sheet. Show another sheet first.");
    only->setName("Only");
    EXPECT_FALSE(fs::exists(path)) << "the workbook was written before its save";

    const auto taken = m_dir / "taken.xls";
    auto late = session->Create(taken.string());
    std::ofstream(taken) << "theirs";
    EXPECT_EQ(FailureOf([&] { late->Save(); }),
              "\"taken.xls\" could not be saved: a file of that name was made by another program meanwhile. "
              "Nothing was written; choose another name.");
    std::ifstream kept(taken);
    EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()) == "theirs")
        << "the file that took the name was replaced";

    book->Save();
    session->Quit();
    EXPECT_EQ(NamesOf(Reread(path)), (Strings{"Only"}));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::others_read, fs::perms::others_read)
        << "the new file kept the staged file's private permissions";
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        EXPECT_NE(entry.path().filename().string().rfind(".~orvandel-", 0), 0u) << entry.path() << " was left behind";
    }
}

// A copy or move into a workbook that does not exist yet: the file holds the arriving sheets only (the new
// workbook's own sheet gives way), shown when all arrived hidden, and a move takes the sheet from its source.
TEST_F(LibreOfficeSession, TransfersIntoANewWorkbookWriteOnlyTheArrivingSheets) {
    using Kind = transfers::SheetTransfer::Kind;
    struct Case {
        Kind kind;
        Strings sheets;
        std::string target;
        std::vector<bool> hidden;  // of the arriving sheets, in the new file
    };
    const Case cases[] = {
        {Kind::Copy, {"Alpha", "Hidden"}, "pair.xls", {false, true}},
        {Kind::Copy, {"Hidden"}, "shown.xls", {false}},
        {Kind::Copy, {"Gamma"}, "copied.ods", {false}},
        {Kind::Move, {"Gamma"}, "moved.ods", {false}},
        {Kind::Copy, {"Alpha"}, "ooxml.xlsx", {false}},
    };
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(MakeLibreOfficeBackend({.serveOoxml = true}));
    const auto transfer = [&](Kind kind, const fs::path& source, const Strings& sheets, const fs::path& target) {
        transfers::TransferRequest request;
        request.kind = kind;
        request.source = source.string();
        request.sheets = sheets;
        request.target = target.string();
        return transfers::Transfer(registry, request);
    };
    // A workbook's sheets as its file lists them, read as the format its extension names (without a run of
    // LibreOffice, which would read any format whatever the name).
    const auto listed = [](const fs::path& path) {
        return legacy::ListSheets(path.string(), automation::FormatOfPath(path.string()))
            .value_or(std::vector<legacy::ListedSheet>{});
    };
    const auto namesIn = [&](const fs::path& path) {
        Strings names;
        for (const auto& sheet : listed(path)) names.push_back(sheet.name);
        return names;
    };
    const auto sourceValues = [](const std::string& name) {
        Strings values;
        for (const auto& sheet : kSource) {
            if (sheet.name != name) continue;
            for (const auto& cell : sheet.cells) values.push_back(cell.value);
        }
        return values;
    };
    std::vector<fs::path> targets;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const auto source = Generated("source", "xls", "for-" + c.target + ".xls");
        targets.push_back(m_dir / c.target);
        const auto outcome = transfer(c.kind, source, c.sheets, targets.back());
        EXPECT_TRUE(outcome.createdTarget);
        EXPECT_EQ(outcome.copies, c.sheets);
        Strings names;
        std::vector<bool> hidden;
        for (const auto& sheet : listed(targets.back())) {
            names.push_back(sheet.name);
            hidden.push_back(sheet.visibility != automation::SheetVisibility::Visible);
        }
        EXPECT_EQ(names, c.sheets);
        EXPECT_EQ(hidden, c.hidden);
        const auto left = namesIn(source);
        EXPECT_EQ(std::count(left.begin(), left.end(), c.sheets.front()), c.kind == Kind::Move ? 0 : 1);
    }
    const auto read = test::ReadBackAll(targets, m_dir / "scratch");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const auto back = read.count(c.target) ? read.at(c.target) : std::vector<test::ReadSheet>{};
        EXPECT_EQ(NamesOf(back), c.sheets) << "as LibreOffice reads it";
        for (std::size_t i = 0; i < c.sheets.size(); ++i) {
            const auto copy = SheetNamed(back, c.sheets[i]);
            EXPECT_EQ(copy.hidden, c.hidden[i]) << c.sheets[i];
            EXPECT_EQ(copy.values, sourceValues(c.sheets[i])) << c.sheets[i];
        }
    }
    // A folder that does not exist is refused before anything is written or started.
    const auto source = Generated("source", "xls");
    const std::string refused = FailureOf([&] {
        transfer(Kind::Move, source, {"Gamma"}, m_dir / "none" / "new.ods");
    });
    EXPECT_NE(refused.find("\"new.ods\" cannot be created: the folder"), std::string::npos) << refused;
    EXPECT_FALSE(fs::exists(m_dir / "none"));
    EXPECT_EQ(namesIn(source), (Strings{"Alpha", "Hidden", "Beta", "Gamma"}));
}

TEST_F(LibreOfficeSession, FilesThatCannotBeChangedFailWithWhatIsWrong) {
    auto session = MakeLibreOfficeBackend()->Start();
    // The sheet names of an encrypted workbook are encrypted too: only the office can tell what it is.
    EXPECT_EQ(FailureOf([&] { session->Open(Fixture("encrypted-rc4.xls").string()); }),
              "\"encrypted-rc4.xls\" cannot be opened: it is password-protected. Remove the password in a "
              "spreadsheet "
              "application, save it, and try again.");

    const auto readOnly = Generated("target", "xls", "readonly.xls");
    fs::permissions(readOnly, fs::perms::owner_read);
    auto book = session->Open(readOnly.string());
    EXPECT_EQ(Names(*book), (Strings{"One", "Two", "Three"}));
    // The superuser may write any file, so only another user sees the file as read-only.
    if (::geteuid() != 0) {
        const std::string refused = FailureOf([&] { book->sheetAt(1)->setName("Changed"); });
        EXPECT_NE(refused.find("\"readonly.xls\" cannot be opened: it can only be opened read-only"),
                  std::string::npos)
            << refused;
    }

    // A lock file of a LibreOffice on another computer says the workbook is open there.
    const auto locked = Generated("target", "ods", "locked.ods");
    std::ofstream(m_dir / ".~lock.locked.ods#")
        << "Someone Else,elsewhere,otherhost,01.12.2026 10:00,file:///home/x;";
    auto lockedBook = session->Open(locked.string());
    const std::string busy = FailureOf([&] { lockedBook->sheetAt(1)->setName("Changed"); });
    EXPECT_NE(busy.find("\"locked.ods\" cannot be opened: it is open in another program"), std::string::npos)
        << busy;
    session->Quit();
}

// LibreOffice writes over a file in place; a save must replace the workbook whole instead (a failure halfway
// would leave it cut short). A link to the old file keeps the old bytes, and nothing staged is left behind.
TEST_F(LibreOfficeSession, ASaveReplacesTheWorkbookWholeAndNeverWritesIntoIt) {
    // Excel 5/95 is written only over its own file: over a copy, the old file kept aside meanwhile.
    for (const auto& path : {Generated("target", "xls"), Generated("target", "ods"), Fixture("biff5-visibility.xls")}) {
        SCOPED_TRACE(path.filename().string());
        const auto before = m_dir / ("before" + path.extension().string());
        const std::string firstName = NamesOf(Reread(path)).front();
        fs::create_hard_link(path, before);
        std::ifstream original(before, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());
        {
            auto session = MakeLibreOfficeBackend()->Start();
            auto book = session->Open(path.string());
            book->sheetAt(1)->setName("Replaced");
            book->Save();
            session->Quit();
        }
        std::ifstream kept(before, std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), bytes)
            << "the save wrote into the workbook's file";
        EXPECT_EQ(NamesOf(Reread(path)).front(), "Replaced");
        EXPECT_EQ(NamesOf(Reread(before)).front(), firstName);
        fs::remove(before);
    }
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        EXPECT_NE(entry.path().filename().string().rfind(".~orvandel-", 0), 0u) << entry.path() << " was left behind";
    }
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
        EXPECT_NE(entry.path().filename().string().rfind("orvandel-save-" + std::to_string(::getpid()) + "-", 0), 0u)
            << entry.path() << " was left behind";
    }
}

// LibreOffice stores a link to another workbook relative to the file it writes: after a save, a link to a
// workbook beside the saved one still leads to that workbook, in every format LibreOffice writes.
TEST_F(LibreOfficeSession, LinksToAWorkbookBesideItSurviveASave) {
    // Read back from one place before and after, a link is written the same only if it leads to the same
    // file.
    const auto renameKeepsLinks = [&](const fs::path& path, const std::string& unrelated,
                                      const std::string& linking) {
        const auto before = SheetNamed(Reread(path), linking);
        {
            auto session = MakeLibreOfficeBackend({.serveOoxml = true})->Start();
            auto book = session->Open(path.string());
            book->Sheets()(unrelated)->setName(unrelated + " 2");
            book->Save();
            session->Quit();
        }
        const auto after = SheetNamed(Reread(path), linking);
        EXPECT_EQ(after.formulas, before.formulas);
        EXPECT_EQ(after.values, before.values);
    };
    std::ofstream(m_dir / "other.fods") << test::Fods({{"Data", false, {{"5", ""}}}});
    ASSERT_EQ(test::Convert({m_dir / "other.fods"}, "xlsx", m_dir), "");
    std::ofstream(m_dir / "linked.fods") << test::Fods(
        {{"Summary", false, {{"1", ""}}}, {"Uses", false, {{"10", "of:=['other.xlsx'#$Data.A1]*2"}}}});
    for (const std::string format : {"xls", "xlsx"}) {
        SCOPED_TRACE(format);
        ASSERT_EQ(test::Convert({m_dir / "linked.fods"}, format, m_dir), "");
        const fs::path path = m_dir / ("linked." + format);
        ASSERT_NE(SheetNamed(Reread(path), "Uses").formulas.at(0).find("other.xlsx"), std::string::npos);
        renameKeepsLinks(path, "Summary", "Uses");
    }
    // An .ods keeps the cached values of a link under its path; a sheet copied from a workbook beside it
    // brings such a link.
    const auto target = Generated("target", "ods");
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto from = session->Open(Generated("source", "ods").string());
        auto to = session->Open(target.string());
        from->Sheets()("Beta")->Copy(After{*to->Sheets()("One")});
        to->Save();
        session->Quit();
    }
    const auto beta = SheetNamed(Reread(target), "Beta");
    EXPECT_EQ(beta.values, (Strings{"11"}));
    EXPECT_NE(beta.formulas.at(0).find("source.ods"), std::string::npos) << beta.formulas.at(0);
    renameKeepsLinks(target, "Two", "Beta");
}

// Every operation on .xls workbooks is taken back and redone byte for byte: LibreOffice's saves replace the
// files whole, so the history's links keep the old versions intact.
TEST_F(LibreOfficeSession, EveryOperationOnXlsWorkbooksIsUndoneAndRedoneByteForByte) {
    auto bytes = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(MakeLibreOfficeBackend());
    const std::string store = (m_dir / "undo").string();
    auto tool = [&](const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = cli::RunSheetsTool(args, out, err, registry, store);
        EXPECT_EQ(code, cli::kDone) << err.str();
    };
    const std::vector<std::vector<std::string>> operations = {
        {"rename", "S", "Alpha", "Renamed"},       {"reorder", "S", "Gamma", "before", "Alpha"},
        {"delete", "S", "Beta"},                   {"copy", "S", "Gamma", "T", "after", "One"},
        {"move", "S", "Gamma", "T", "after", "One"},
    };
    for (auto args : operations) {
        SCOPED_TRACE(args[0]);
        const auto source = Generated("source", "xls", args[0] + "-source.xls");
        const auto target = Generated("target", "xls", args[0] + "-target.xls");
        for (auto& arg : args) arg = arg == "S" ? source.string() : arg == "T" ? target.string() : arg;
        const std::string sourceBefore = bytes(source), targetBefore = bytes(target);
        tool(args);
        const std::string sourceAfter = bytes(source), targetAfter = bytes(target);
        ASSERT_TRUE(sourceAfter != sourceBefore || targetAfter != targetBefore);
        tool({"undo"});
        EXPECT_EQ(bytes(source), sourceBefore);
        EXPECT_EQ(bytes(target), targetBefore);
        tool({"redo"});
        EXPECT_EQ(bytes(source), sourceAfter);
        EXPECT_EQ(bytes(target), targetAfter);
    }
}

// The window's office started ahead: the next operation takes it instead of starting its own, the next one is
// started after it, an office nobody takes ends after its idle time, and none outlives the program's end.
TEST_F(LibreOfficeSession, AnOfficeStartedAheadServesTheNextOperationAndEndsWhenUnused) {
    auto pids = [] {
        const auto list = OurOfficeProcesses();
        return std::set<pid_t>(list.begin(), list.end());
    };
    // The workbook is made first, and the idle time leaves room for a loaded machine: an office that ended
    // unused before the operation came would look like one the operation started.
    const auto target = Generated("target", "xls");
    WarmUp(std::chrono::seconds(8));
    ASSERT_TRUE(AwaitWarmOffice());
    const auto warm = pids();
    ASSERT_FALSE(warm.empty());
    {
        auto session = MakeLibreOfficeBackend()->Start();
        auto book = session->Open(target.string());
        book->sheetAt(1)->setName("Warm");
        book->Save();
        EXPECT_EQ(pids(), warm) << "the operation started an office of its own";
        session->Quit();
    }
    EXPECT_EQ(NamesOf(Reread(m_dir / "target.xls")).front(), "Warm");
    ASSERT_TRUE(AwaitWarmOffice()) << "no office was started for the next operation";
    const auto next = pids();
    EXPECT_FALSE(next.empty());
    for (pid_t pid : warm) EXPECT_EQ(next.count(pid), 0u) << "the used office still runs";
    // Nobody takes it: it ends by itself.
    for (int i = 0; i < 250 && !pids().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(pids().empty()) << "an unused office outlived its idle time";
    // Readied again, it ends with the program.
    WarmUp();
    ASSERT_TRUE(AwaitWarmOffice());
    EndWarmOffice();
    EXPECT_TRUE(pids().empty());
    EXPECT_EQ(TakeWarmOffice(), nullptr);
}

TEST_F(LibreOfficeSession, ASessionReleasedWithoutQuitEndsItsOffice) {
    auto session = MakeLibreOfficeBackend()->Start();
    auto book = session->Open(Generated("target", "xls").string());
    book->sheetAt(1)->setName("Started");
    EXPECT_FALSE(OurOfficeProcesses().empty());
    session.reset();
    EXPECT_TRUE(OurOfficeProcesses().empty());
    EXPECT_NE(FailureOf([&] { book->sheetAt(1)->name(); }).find("has been closed"), std::string::npos);
}

TEST_F(LibreOfficeSession, AnOfficeWhoseClientDiedIsEnded) {
    const auto path = Generated("target", "xls");
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<char*> argv = {self.data(), const_cast<char*>("--orphan-child"),
                               const_cast<char*>(path.c_str()), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not start its office";
    ASSERT_FALSE(OurOfficeProcesses().empty()) << "the child's office should still run, orphaned";
    EXPECT_TRUE(fs::exists(m_dir / ".~lock.target.xls#")) << "the orphan should hold the workbook's lock";
    EXPECT_GE(EndOrphanedOffices(), 1);
    EXPECT_TRUE(OurOfficeProcesses().empty());
    EXPECT_FALSE(fs::exists(m_dir / ".~lock.target.xls#")) << "the orphan's lock file should be removed";

    // A new office ends orphans by itself before it starts, and reuses the freed profile.
    ASSERT_EQ(::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    auto session = MakeLibreOfficeBackend()->Start();
    auto book = session->Open(Generated("target", "ods").string());
    book->sheetAt(1)->setName("Mine");
    EXPECT_EQ(OurOfficeProcesses().size(), 2u)
        << "the orphan should be gone, leaving the script and soffice.bin";
    session->Quit();
}

}  // namespace
}  // namespace orv::libreoffice
