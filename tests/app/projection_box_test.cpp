// The texture projection box in the running desktop program: started as the
// command starts it, turned with [Ctrl] keys, read back from the back buffer.
#include "app/projection_box.h"

#include "app/desktop_fixture.h"

namespace {

bool IsBlue(Rgb p) { return p.b > 200 && p.r < 40 && p.g < 40; }
bool IsWhite(Rgb p) { return p.r > 200 && p.g > 200 && p.b > 200; }
// The marker's yellow fill, which no viewport colour comes near.
bool IsMarker(Rgb p) { return p.r >= 240 && p.g >= 200 && p.g <= 225 && p.b >= 48 && p.b <= 80; }

class ProjectionBoxDesktop : public Desktop {
 protected:
  // Polygons 0..2 span x -3..3 and y -1..1 in the plane z = 0.
  void Start(std::vector<int> polygons, float increment = 15) {
    ui().Inspect([this, polygons, increment] {
      for (int p : polygons)
        for (int k = 0; k < 3; ++k) gModel.vertices[3 * p + k].selected = 1;
      ui().Answer(IDOK);
      StartProjectionBox(0.25f, 0.75f, 0.1f, 0.9f, increment);
      ui().Move(600, 20);  // away from the box, still redrawing every frame
    });
    ui().Frame();
  }
  // Some pixel of the rows y - 1 .. y + 1 at column x matches.
  static bool LineNear(int x, int y, bool (*is)(Rgb)) {
    return is(BackBufferAt(x, y - 1)) || is(BackBufferAt(x, y)) || is(BackBufferAt(x, y + 1));
  }
  static int MarkerPixels(int top, int bottom) {
    int n = 0;
    for (int y = std::max(top, 0); y < bottom; ++y)
      for (int x = 129; x < 637; ++x) n += IsMarker(BackBufferAt(x, y));
    return n;
  }
};

TEST_F(ProjectionBoxDesktop, UnturnedBoxFollowsThePolyListAndMapsAcrossTheRanges) {
  PassTitle();
  Start({0, 1});
  ui().Inspect([this] {
    const ScriptedUI::Message& m = ui().messages.back();
    EXPECT_EQ("Vornix 3D!", m.caption);
    EXPECT_EQ(0u, m.text.find("You will now be presented with a 3D texture\n"));
    EXPECT_NE(std::string::npos, m.text.find("\n[Ctrl]+[Right]  -  Rotate on +Z axis\n[Esc]  -  Cancel"));
    EXPECT_EQ(6, gShell.viewpoint);
    EXPECT_FLOAT_EQ(1, gBox.sMax);
    EXPECT_TRUE(LineNear(ScreenX(0), SelectY(1), IsWhite)) << "the facing wMin face is white";
    EXPECT_GT(MarkerPixels(SelectY(1) - 26, SelectY(1)), 20);
    ui().Click(ScreenX(2), SelectY(-0.3f));
  });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_FLOAT_EQ(3, gBox.sMax) << "the clicked polygon is inside the box at once";
    EXPECT_TRUE(LineNear(ScreenX(2.5f), SelectY(1), IsWhite));
    ui().Key(VK_RETURN);
  });
  ui().Frame();
  ui().Inspect([] {
    EXPECT_EQ(0, gShell.projecting + gShell.projectionAccepted);
    EXPECT_EQ(1, gModel.projectionCount);
    EXPECT_EQ(1, gModel.vertices[8].projected);
    for (int i = 0; i < 9; ++i) {
      const ModelVertex& v = gModel.vertices[i];
      EXPECT_NEAR(0.25f + (v.x + 3) / 6 * 0.5f, v.u, 1e-5f) << i;  // minU at the smallest x
      EXPECT_NEAR(0.9f - (v.y + 1) / 2 * 0.8f, v.v, 1e-5f) << i;   // maxV at the smallest y
    }
    EXPECT_EQ(1, gShell.modelChanged);
  });
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

TEST_F(ProjectionBoxDesktop, CtrlXTurnsAQuarterTurnAboutVAndShowsTheBackFaceBlue) {
  PassTitle();
  Start({0, 1, 2}, 90);
  ui().Key('X', true);
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_NEAR(-1, gBox.axes[0][2], 1e-6f) << "U turned onto -Z";
    EXPECT_NEAR(1, gBox.axes[1][1], 1e-6f) << "V stays";
    EXPECT_NEAR(1, gBox.axes[2][0], 1e-6f) << "T turned onto X";
    EXPECT_NEAR(0, gBox.sMax - gBox.sMin, 1e-5f);
    EXPECT_NEAR(6, gBox.wMax - gBox.wMin, 1e-5f) << "the depth now runs along x";
    EXPECT_EQ(6, gShell.viewpoint) << "the view did not turn";
    ui().Key('X', true);
  });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_NEAR(-1, gBox.axes[0][0], 1e-6f);
    EXPECT_NEAR(-3, gBox.sMin, 1e-5f);
    EXPECT_TRUE(LineNear(ScreenX(0), SelectY(1), IsBlue));
    EXPECT_TRUE(LineNear(ScreenX(0), SelectY(-1), IsBlue));
    EXPECT_FALSE(LineNear(ScreenX(0), SelectY(1), IsWhite));
    EXPECT_EQ(0, MarkerPixels(241, 477));
  });
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

TEST_F(ProjectionBoxDesktop, CornersBehindTheCameraDropOnlyTheirEdges) {
  PassTitle();
  Start({0, 1, 2});
  ui().Inspect([] { gModel.vertices[0].z = -20; });  // the wMin face lies behind the camera
  ui().Frame();
  ui().Inspect([this] {
    for (int c = 0; c < 8; ++c) EXPECT_EQ(c >= 4, gBox.cornerPlaced[c]) << c;
    EXPECT_TRUE(LineNear(ScreenX(0), SelectY(1), IsBlue)) << "the far face is still drawn";
    EXPECT_EQ(0, MarkerPixels(241, 477));
  });
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

TEST_F(ProjectionBoxDesktop, MarkerNeedsItsTopRowInsideTheSelectViewport) {
  PassTitle();
  Start({0, 1, 2});
  // The pan that puts C1 (x -3, y 1) on screen row `row`; the divider is row 240.
  for (const int row : {150, 266, 267}) {
    ui().Inspect([row] { gShell.panY = 1 - (358.5f - float(row)) * -gShell.cameraZ / 441.0f; });
    ui().Frame();
    ui().Inspect([row] {
      ASSERT_EQ(row, int(gBox.corners[1][1]));
      EXPECT_EQ(row == 267, MarkerPixels(row - 26, row) > 20) << row;
      if (row < 240) {
        EXPECT_FALSE(IsWhite(BackBufferAt(int(gBox.corners[1][0]) + 100, row))) << "clipped to the Select viewport";
      }
    });
  }
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

TEST_F(ProjectionBoxDesktop, EscapeAndAnEmptiedPolyListLeaveTheModelAlone) {
  PassTitle();
  Start({1});
  ui().Key(VK_ESCAPE);
  ui().Frame(2);
  ui().Inspect([this] {
    EXPECT_EQ(0, gShell.projecting + gShell.projectionAccepted);
    EXPECT_EQ(0, CountMessages(ui(), ExitQuestion));
    EXPECT_FALSE(LineNear(ScreenX(0), SelectY(1), IsWhite)) << "the box is gone from both buffers";
  });
  Start({1});
  ui().Inspect([] { SelectNone(); });
  ui().Frame();
  ui().Inspect([this] {
    EXPECT_EQ(BoundsStart, gBox.sMin);
    EXPECT_FALSE(LineNear(ScreenX(0), SelectY(1), IsWhite)) << "no box around nothing";
    ui().Key(VK_RETURN);
  });
  ui().Frame();
  ui().Inspect([] {
    EXPECT_EQ(0, gModel.projectionCount);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(0, gModel.vertices[i].projected);
  });
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
}

}  // namespace
