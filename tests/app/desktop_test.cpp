// The desktop program run headless through the scripted user interface:
// the real start-up, title and main loop with queued input, read back from
// the back buffer and the transcript.
#include "app/desktop_fixture.h"

namespace {

// Whether each polygon is in the PolyList, '1' or '0'.
std::string Selection() {
  std::string s;
  for (int i = 0; i < gModel.vertexCount; i += 3) s += gModel.vertices[i].selected ? '1' : '0';
  return s;
}

// ---- The mode dialog -----------------------------------------------------------------

struct ModeTables {
  char names[3][128] = {"Alpha renderer", "Beta renderer", "Gamma"};
  int32_t modes[3][8] = {
      {0, 1, 0, 0, 0, 0, 1, 2},  // 320 x 240 (never shown), 800 x 600, 1024 x 768 (memory short)
      {0, 0, 0, 0, 0, 1, 1, 0},  // 640 x 480, 800 x 600
      {0, 1, 0, 0, 1, 0, 0, 0},  // only modes too small to be offered
  };
};

TEST_F(Desktop, ModeDialogPreselectsAndAsksAboutVideoMemory) {
  ModeTables t;
  int method = -5, mode = -5;
  ui().ScriptDialog(ModeDialogResource,
                    {Action::Look([](Dialog& d) {
                       EXPECT_EQ("Vornix 3D!", d.Caption());
                       EXPECT_EQ(1, d.ListSelection(ModeMethodList)) << "the last method";
                       EXPECT_EQ("640 x 480", d.ListText(ModeResolutionList, d.ListSelection(ModeResolutionList)));
                     }),
                     Action::Pick(ModeMethodList, 0),
                     Action::Look([](Dialog& d) {
                       ASSERT_EQ(2, d.ListCount(ModeResolutionList));
                       EXPECT_EQ(0, d.ListSelection(ModeResolutionList)) << "the first method: first entry";
                     }),
                     Action::Pick(ModeResolutionList, 1), Action::Press(IDC_OK),
                     Action::Look([](Dialog& d) {
                       EXPECT_FALSE(d.Ended()) << "No keeps the dialog open";
                       EXPECT_EQ(0, d.ListSelection(ModeMethodList));
                       EXPECT_EQ(1, d.ListSelection(ModeResolutionList));
                     }),
                     Action::Press(IDC_OK)});
  ui().Answer(IDNO);
  ui().Answer(IDYES);
  EXPECT_EQ(1, SelectRenderingMode(2, t.names, t.modes, &method, &mode));
  EXPECT_EQ(0, method);
  EXPECT_EQ(8, mode);
  ASSERT_EQ(2, CountMessages(ui(), InsufficientMemoryQuestion));

  // Nothing to choose: OK is refused; Cancel gives 0 and 0.
  ui().ScriptDialog(ModeDialogResource, {Action::Press(IDC_OK), Action::Look([](Dialog& d) {
                                           EXPECT_EQ(0, d.ListCount(ModeResolutionList));
                                           EXPECT_FALSE(d.Ended());
                                         })});
  EXPECT_EQ(0, SelectRenderingMode(3, t.names, t.modes, &method, &mode));
  EXPECT_EQ(0, method);
  EXPECT_EQ(0, mode);
}

TEST_F(Desktop, CancellingTheModeDialogAbortsWithCodeZero) {
  ui().ScriptDialog(ModeDialogResource, {Action::Press(IDC_CANCEL)});
  EXPECT_EQ(0, Run());
  ASSERT_EQ(1u, ui().messages.size());
  EXPECT_EQ("Program Aborting", ui().messages[0].caption);
  EXPECT_NE(std::string::npos, ui().messages[0].text.find("Application Cancelled"));
  EXPECT_FALSE(ui().windowOpen);
}

// Yes to the large mode on short video memory tries it; the display then
// refuses the buffers and the program ends through the abort path.
TEST_F(Desktop, ShortVideoMemoryAsksBeforeTryingTheLargeMode) {
  // The 3D hardware, listed last and so preselected, draws from video memory.
  _qlt_Direct3DOffer.halDevice = true;
  CurrentDisplaySettings().videoMemoryBytes = 4u * 1024 * 1024;
  ui().ScriptDialog(ModeDialogResource, {Action::Pick(ModeResolutionList, 2), Action::Press(IDC_OK)});
  ui().Answer(IDYES);
  EXPECT_EQ(0, Run());
  ASSERT_EQ(2u, ui().messages.size());
  EXPECT_EQ(InsufficientMemoryQuestion, ui().messages[0].text);
  EXPECT_EQ("Program Aborting", ui().messages[1].caption);
  EXPECT_NE(std::string::npos, ui().messages[1].text.find("enough memory"));
  EXPECT_EQ(1024, ui().windowWidth) << "the window was made for the chosen mode";
}

// ---- Title and start-up ----------------------------------------------------------------

TEST_F(Desktop, TitleWaitsForAKeyAlsoWhileInactive) {
  ui().ScriptDialog(ModeDialogResource, {Action::Press(IDC_OK)});
  WindowEvent activate, deactivate;
  activate.kind = EventKind::Activate;
  deactivate.kind = EventKind::Deactivate;
  ui().Post(activate);
  ui().Frame(3);
  ui().Post(deactivate);
  ui().Key('K');  // clears the title, but an inactive program waits
  ui().Frame();
  ui().Inspect([] {
    EXPECT_EQ(0, gShell.titleShowing);
    EXPECT_EQ(0, gModel.vertexCount) << "nothing past the title yet";
  });
  ui().Post(activate);
  ui().Frame();
  ui().Inspect([] { EXPECT_EQ(9, gModel.vertexCount); });
  ui().Frame();
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
  EXPECT_EQ("Vornix 3D!", ui().windowTitle);
  EXPECT_EQ(640, ui().windowWidth);
  EXPECT_GE(ui().presents, 1) << "flips show the picture in the window";
}

// Without the sample model the program starts on an empty Model, reports
// the missing file and keeps drawing and answering the mouse.
TEST_F(Desktop, MissingSampleModelLeavesAnEmptyModelThatStillRuns) {
  PassTitle();
  ui().Move(400, 400);
  ui().Click(400, 400);
  ui().Frame(3);
  DesktopOptions options;
  options.programFolder = folder_;
  EXPECT_EQ(ScriptedUI::ScriptEndCode, RunDesktop(options));
  EXPECT_EQ(0, gModel.vertexCount);
  bool reported = false;
  for (const auto& m : ui().messages) reported |= m.text.find("IndyCar.vnx") != std::string::npos;
  EXPECT_TRUE(reported);
  EXPECT_GE(gView.redraws, 3);
}

// ---- Picking ---------------------------------------------------------------------------

// The main loop hands the pointer to the picking; the picking's cases and
// the marks drawn for them are tested on their own. The panel switches to
// rectangle mode, where a band shows while dragged and takes effect on
// release; a right band removes.
TEST_F(Desktop, PointerPicksThroughTheMainLoop) {
  PassTitle();
  ui().Inspect([this] { ui().Move(ScreenX(0), SelectY(-0.3f)); });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_EQ(1, gView.hoverPolygon);
    ui().Click(ScreenX(0), SelectY(-0.3f));
  });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_EQ("010", Selection());
    ui().Move(600, 460);  // away from the model
  });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_EQ(-1, gView.hoverPolygon);
    ui().Click(20, 190);  // rectangle mode
  });
  ui().Frame();
  // A band round polygons 0 and 1 adds both.
  ui().Inspect([this] {
    ui().Press(EventKind::LeftDown, ScreenX(-3.3f), SelectY(1.3f));
    ui().Move(ScreenX(0.9f), SelectY(-1.2f));
    ui().Move(ScreenX(1.2f), SelectY(-1.3f));
  });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_EQ(1, gShell.bandVisible);
    EXPECT_EQ("010", Selection()) << "nothing before the release";
    ui().Press(EventKind::LeftUp, ScreenX(1.2f), SelectY(-1.3f));
  });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_EQ("110", Selection());
    ui().Press(EventKind::RightDown, ScreenX(-1.2f), SelectY(1.2f));
    ui().Move(ScreenX(1.2f), SelectY(-1.2f));
    ui().Press(EventKind::RightUp, ScreenX(1.2f), SelectY(-1.2f));
  });
  ui().Frame();
  ui().Inspect([] { EXPECT_EQ("100", Selection()); });
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

// ---- Redraw policy ---------------------------------------------------------------------

TEST_F(Desktop, ViewportsRedrawTwiceAfterAChangeAndRestOnThePanel) {
  PassTitle();
  int before = 0;
  ui().Inspect([this] { ui().Move(60, 300); });
  ui().Frame(3);
  ui().Inspect([&before] { before = gView.redraws; });
  ui().Frame(3);
  ui().Inspect([&before, this] {
    EXPECT_EQ(before, gView.redraws) << "nothing drawn while the pointer rests on the panel";
    ui().Key('A');
  });
  ui().Frame(4);
  ui().Inspect([&before, this] {
    EXPECT_EQ(before + 2, gView.redraws) << "a change is drawn into both buffers";
    before = gView.redraws;
    ui().Move(400, 100);
  });
  ui().Frame(3);
  ui().Inspect([&before] { EXPECT_EQ(before + 3, gView.redraws) << "every frame over the viewports"; });
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

// ---- Open, Save and exit ---------------------------------------------------------------

TEST_F(Desktop, OpenAsksToSaveAChangedModelFirstThenOpens) {
  PassTitle();
  const std::string saved = folder_ + "/saved.vnx";
  ui().Inspect([this] {
    gShell.modelChanged = 1;
    ui().Click(10, 60);  // Open
  });
  ui().Answer(IDYES);
  ui().ChooseFile(saved, 1);
  ui().ChooseFile(model_, 1);
  ui().Frame(4);
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
  EXPECT_EQ(1, CountMessages(ui(), ModelChangedQuestion)) << "the second Open does not ask again";
  ASSERT_EQ(2u, ui().fileRequests.size());
  EXPECT_TRUE(ui().fileRequests[0].save);
  EXPECT_FALSE(ui().fileRequests[1].save);
  EXPECT_TRUE(FileExists(saved));
  EXPECT_EQ(0, gShell.modelChanged);
}

TEST_F(Desktop, EscapeAsksBeforeExitingAndOffersToSaveAChangedModel) {
  // Unchanged: No keeps the program; Yes closes it with code 0.
  PassTitle();
  ui().Key(VK_ESCAPE);
  ui().Answer(IDNO);
  ui().Frame();
  ui().Key(VK_ESCAPE);
  ui().Answer(IDYES);
  ui().Frame(3);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(2, CountMessages(ui(), ExitQuestion));
  EXPECT_EQ(0, CountMessages(ui(), ModelChangedQuestion));
  EXPECT_FALSE(ui().windowOpen);

  // Changed, Yes, Yes, and the save dialog cancelled: the program closes;
  // the window's close button asks the same.
  _qlt_ResetLibraryForTests();
  ui().messages.clear();
  PassTitle();
  ui().Inspect([] { gShell.modelChanged = 1; });
  WindowEvent close;
  close.kind = EventKind::Close;
  ui().Post(close);
  ui().Answer(IDYES);
  ui().Answer(IDYES);
  ui().ChooseFile("");
  ui().Frame(3);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(1, CountMessages(ui(), ExitQuestion));
  EXPECT_EQ(1, CountMessages(ui(), ModelChangedQuestion));
  EXPECT_FALSE(ui().windowOpen);
}

}  // namespace
