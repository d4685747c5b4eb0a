#include "platform/gtk/gtk_ui.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/events.h"
#include "platform/gtk/gtk_internal.h"
#include "platform/surface.h"

namespace gtkui {

namespace {

GtkWindow* mainWindow = nullptr;
std::vector<GtkWindow*> modalWindows;

gboolean PresentOnMap(GtkWidget* widget, GdkEvent*, gpointer) {
  gtk_window_present(GTK_WINDOW(widget));
  return FALSE;
}

}  // namespace

std::string DisplayText(const char* text) {
  if (!text) return std::string();
  if (g_utf8_validate(text, -1, nullptr)) return text;
  gchar* converted = g_convert(text, -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
  std::string result = converted ? converted : "";
  g_free(converted);
  return result;
}

GtkWindow* DialogParent() { return modalWindows.empty() ? mainWindow : modalWindows.back(); }

void PushModal(GtkWindow* window) { modalWindows.push_back(window); }

void PopModal(GtkWindow* window) {
  modalWindows.erase(std::remove(modalWindows.begin(), modalWindows.end(), window), modalWindows.end());
  // Without a window manager the keyboard would fall back to the root
  // window; the owner takes it back as it would on any desktop.
  GtkWindow* owner = DialogParent();
  if (owner && gtk_widget_get_mapped(GTK_WIDGET(owner))) gtk_window_present(owner);
}

void FocusWhenMapped(GtkWidget* window) { g_signal_connect(window, "map-event", G_CALLBACK(PresentOnMap), nullptr); }

}  // namespace gtkui

namespace {

using gtkui::DisplayText;

constexpr gint64 RefreshPeriodUs = 1000000 / 60;
constexpr guint FocusSettleMs = 50;

// Where the surface lies in the drawing area: its top-left corner and the
// scale, the aspect kept and the rest letterboxed.
struct Placement {
  double x = 0, y = 0, scale = 1;
};

Placement PlaceSurface(int areaWidth, int areaHeight, int width, int height) {
  Placement p;
  if (width <= 0 || height <= 0 || areaWidth <= 0 || areaHeight <= 0) return p;
  if (areaWidth == width && areaHeight == height) return p;
  p.scale = std::min(double(areaWidth) / width, double(areaHeight) / height);
  // Whole-pixel offsets keep the picture's edges sharp; the side that fills
  // the area must get exactly 0, not a rounding error below it.
  p.x = std::max(0.0, std::floor((areaWidth - width * p.scale) / 2 + 1e-6));
  p.y = std::max(0.0, std::floor((areaHeight - height * p.scale) / 2 + 1e-6));
  return p;
}

// The first whole window position inside surface pixel i, so that the
// pointer put there maps back to i.
int FirstWindowPixel(double offset, double scale, int i) {
  const double start = std::ceil(offset + i * scale - 1e-6);
  if (start < offset + (i + 1) * scale) return int(start);
  return int(std::floor(offset + (i + 0.5) * scale));
}

// Windows virtual-key codes of the keys beyond letters and digits.
int VirtualKeyOf(guint keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return int('A' + (keyval - GDK_KEY_a));
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return int(keyval);
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return int(keyval);
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return int(0x60 + (keyval - GDK_KEY_KP_0));
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return int(VK_F1 + (keyval - GDK_KEY_F1));
  switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: return VK_RETURN;
    case GDK_KEY_Escape: return VK_ESCAPE;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space: return VK_SPACE;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return VK_LEFT;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: return VK_UP;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return VK_RIGHT;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: return VK_DOWN;
    case GDK_KEY_KP_Add: return VK_ADD;
    case GDK_KEY_KP_Subtract: return VK_SUBTRACT;
    case GDK_KEY_KP_Multiply: return 0x6A;
    case GDK_KEY_KP_Decimal:
    case GDK_KEY_KP_Separator: return 0x6E;
    case GDK_KEY_KP_Divide: return 0x6F;
    case GDK_KEY_BackSpace: return 0x08;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab: return 0x09;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R: return 0x10;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R: return VK_CONTROL;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R: return 0x12;
    case GDK_KEY_Pause: return 0x13;
    case GDK_KEY_Caps_Lock: return 0x14;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up: return 0x21;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down: return 0x22;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return 0x23;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return 0x24;
    case GDK_KEY_Insert:
    case GDK_KEY_KP_Insert: return 0x2D;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: return 0x2E;
    case GDK_KEY_semicolon: return 0xBA;
    case GDK_KEY_equal: return 0xBB;
    case GDK_KEY_comma: return 0xBC;
    case GDK_KEY_minus: return 0xBD;
    case GDK_KEY_period: return 0xBE;
    case GDK_KEY_slash: return 0xBF;
    case GDK_KEY_grave: return 0xC0;
    case GDK_KEY_bracketleft: return 0xDB;
    case GDK_KEY_backslash: return 0xDC;
    case GDK_KEY_bracketright: return 0xDD;
    case GDK_KEY_apostrophe: return 0xDE;
    default: return 0;
  }
}

// The key as it is without Shift (a virtual-key code names the key, not
// the character): "!" is the 1 key. Num Lock still decides the keypad.
guint UnshiftedKeyval(const GdkEventKey* event, int group) {
  guint keyval = 0;
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
  const auto state = GdkModifierType(event->state & GDK_MOD2_MASK);
  if (keymap && gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, state, group, &keyval, nullptr,
                                                    nullptr, nullptr))
    return keyval;
  return event->keyval;
}

int VirtualKeyOf(const GdkEventKey* event) {
  const int key = VirtualKeyOf(UnshiftedKeyval(event, event->group));
  // A layout without Latin letters still has them in its first group,
  // where the key's position names it.
  return key != 0 || event->group == 0 ? key : VirtualKeyOf(UnshiftedKeyval(event, 0));
}

void Post(EventKind kind, int x = 0, int y = 0) {
  WindowEvent e;
  e.kind = kind;
  e.x = x;
  e.y = y;
  Events().Post(e);
}

class GtkUI final : public PlatformUI {
 public:
  explicit GtkUI(bool windowed) : windowed_(windowed) {}
  ~GtkUI() override;

  int MessageBox(const char* text, const char* caption, unsigned type) override;
  void ProgressCreate() override;
  void ProgressSetText(int control, const char* text) override;
  void ProgressDestroy() override;
  void SetCursor(CursorShape shape) override;
  bool WindowCreate(const char* title, int width, int height) override;
  void WindowDestroy() override;
  void Present(const Surface& front) override;
  void PumpEvents(bool wait) override;
  void WaitForRefresh() override;
  void MovePointer(int x, int y) override;
  int RunDialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context) override {
    return gtkui::RunTemplateDialog(dialogTemplate, proc, context);
  }
  bool FileDialog(const FileDialogRequest& request, FileDialogResult* out) override;

 private:
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
  static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
  static gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer self);
  static gboolean OnFocusIn(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnFocusOut(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean SettleFocus(gpointer self);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static void OnRealize(GtkWidget*, gpointer self);

  Placement CurrentPlacement() const;
  // A pointer position in the drawing area as a surface pixel.
  void ToSurface(double x, double y, int* sx, int* sy) const;
  const uint32_t* ColourTable(PixelFormat format);
  GdkCursor* CursorFor(CursorShape shape);
  void ApplyCursor();
  void LetProgressDraw();

  bool windowed_;
  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  int surfaceWidth_ = 0, surfaceHeight_ = 0;
  cairo_surface_t* picture_ = nullptr;
  bool active_ = false;
  guint focusCheck_ = 0;

  // 16-bit pixel to 0x00RRGGBB, for the format last shown.
  std::vector<uint32_t> colours_;
  PixelFormat coloursFormat_ = PixelFormat::Rgb565;

  CursorShape cursor_ = CursorShape::Arrow;
  GdkCursor* waitCursor_ = nullptr;
  GdkCursor* blankCursor_ = nullptr;

  gint64 lastRefresh_ = 0;

  GtkWidget* progress_ = nullptr;
  GtkWidget* progressFrame_ = nullptr;
  GtkWidget* progressLines_[3] = {nullptr, nullptr, nullptr};
};

GtkUI::~GtkUI() {
  ProgressDestroy();
  WindowDestroy();
  if (waitCursor_) g_object_unref(waitCursor_);
  if (blankCursor_) g_object_unref(blankCursor_);
}

// ---- The window ------------------------------------------------------------------

bool GtkUI::WindowCreate(const char* title, int width, int height) {
  if (window_) WindowDestroy();
  surfaceWidth_ = std::max(width, 1);
  surfaceHeight_ = std::max(height, 1);
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), DisplayText(title).c_str());
  area_ = gtk_drawing_area_new();
  gtk_widget_add_events(area_, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  gtk_container_add(GTK_CONTAINER(window_), area_);
  if (windowed_) {
    gtk_window_set_default_size(GTK_WINDOW(window_), surfaceWidth_, surfaceHeight_);
  } else {
    // Where no window manager grants full screen, covering the monitor
    // comes to the same.
    GdkDisplay* display = gtk_widget_get_display(window_);
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (monitor) {
      GdkRectangle r;
      gdk_monitor_get_geometry(monitor, &r);
      gtk_window_move(GTK_WINDOW(window_), r.x, r.y);
      gtk_window_set_default_size(GTK_WINDOW(window_), r.width, r.height);
    }
    gtk_window_fullscreen(GTK_WINDOW(window_));
  }
  g_signal_connect(area_, "draw", G_CALLBACK(OnDraw), this);
  g_signal_connect(area_, "motion-notify-event", G_CALLBACK(OnMotion), this);
  g_signal_connect(area_, "button-press-event", G_CALLBACK(OnButton), this);
  g_signal_connect(area_, "button-release-event", G_CALLBACK(OnButton), this);
  g_signal_connect(area_, "realize", G_CALLBACK(OnRealize), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
  g_signal_connect(window_, "focus-in-event", G_CALLBACK(OnFocusIn), this);
  g_signal_connect(window_, "focus-out-event", G_CALLBACK(OnFocusOut), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  gtkui::FocusWhenMapped(window_);
  gtkui::mainWindow = GTK_WINDOW(window_);
  active_ = false;
  gtk_widget_show_all(window_);
  // Let the window reach the screen before the program draws its first
  // picture; bounded, for a window manager that never answers.
  const gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
  while (!gtk_widget_get_mapped(window_) && g_get_monotonic_time() < deadline) {
    if (gtk_events_pending())
      gtk_main_iteration_do(FALSE);
    else
      g_usleep(1000);
  }
  return true;
}

void GtkUI::WindowDestroy() {
  if (!window_) return;
  if (focusCheck_) g_source_remove(focusCheck_);
  focusCheck_ = 0;
  gtkui::mainWindow = nullptr;
  GtkWidget* window = window_;
  window_ = area_ = nullptr;
  gtk_widget_destroy(window);
  if (picture_) cairo_surface_destroy(picture_);
  picture_ = nullptr;
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

const uint32_t* GtkUI::ColourTable(PixelFormat format) {
  if (colours_.empty() || coloursFormat_ != format) {
    colours_.resize(65536);
    for (uint32_t p = 0; p < 65536; ++p) {
      uint8_t r, g, b, a;
      UnpackPixel(format, p, r, g, b, a);
      colours_[p] = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
    coloursFormat_ = format;
  }
  return colours_.data();
}

void GtkUI::Present(const Surface& front) {
  if (!window_ || front.width <= 0 || front.height <= 0) return;
  const int bytes = BytesPerPixel(front.format);
  if (front.pitch < front.width * bytes || front.pixels.size() < size_t(front.pitch) * size_t(front.height)) return;
  if (!picture_ || surfaceWidth_ != front.width || surfaceHeight_ != front.height) {
    if (picture_) cairo_surface_destroy(picture_);
    picture_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, front.width, front.height);
    surfaceWidth_ = front.width;
    surfaceHeight_ = front.height;
  }
  cairo_surface_flush(picture_);
  unsigned char* data = cairo_image_surface_get_data(picture_);
  const int stride = cairo_image_surface_get_stride(picture_);
  if (bytes == 2) {
    const uint32_t* colours = ColourTable(front.format);
    for (int y = 0; y < front.height; ++y) {
      const uint8_t* src = front.pixels.data() + size_t(y) * size_t(front.pitch);
      uint32_t* dst = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
      for (int x = 0; x < front.width; ++x) dst[x] = colours[src[2 * x] | src[2 * x + 1] << 8];
    }
  } else {
    for (int y = 0; y < front.height; ++y) {
      const uint8_t* src = front.pixels.data() + size_t(y) * size_t(front.pitch);
      uint32_t* dst = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
      for (int x = 0; x < front.width; ++x) {
        uint32_t p;
        std::memcpy(&p, src + 4 * x, 4);
        dst[x] = p & 0x00FFFFFFu;
      }
    }
  }
  cairo_surface_mark_dirty(picture_);
  gtk_widget_queue_draw(area_);
}

Placement GtkUI::CurrentPlacement() const {
  if (!area_) return Placement();
  return PlaceSurface(gtk_widget_get_allocated_width(area_), gtk_widget_get_allocated_height(area_), surfaceWidth_,
                      surfaceHeight_);
}

void GtkUI::ToSurface(double x, double y, int* sx, int* sy) const {
  const Placement p = CurrentPlacement();
  // The small bias keeps a position on a pixel's first edge from rounding
  // into the pixel before it.
  const double fx = std::floor((x - p.x) / p.scale + 1e-6), fy = std::floor((y - p.y) / p.scale + 1e-6);
  *sx = int(std::clamp(fx, 0.0, double(std::max(surfaceWidth_ - 1, 0))));
  *sy = int(std::clamp(fy, 0.0, double(std::max(surfaceHeight_ - 1, 0))));
}

gboolean GtkUI::OnDraw(GtkWidget*, cairo_t* cr, gpointer self) {
  GtkUI& ui = *static_cast<GtkUI*>(self);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  if (!ui.picture_) return TRUE;
  const Placement p = ui.CurrentPlacement();
  cairo_translate(cr, p.x, p.y);
  cairo_scale(cr, p.scale, p.scale);
  cairo_set_source_surface(cr, ui.picture_, 0, 0);
  cairo_pattern_t* source = cairo_get_source(cr);
  // Whole multiples stay crisp; other scales are smoothed.
  const bool whole = p.scale == std::floor(p.scale);
  cairo_pattern_set_filter(source, whole ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
  cairo_pattern_set_extend(source, CAIRO_EXTEND_PAD);
  cairo_rectangle(cr, 0, 0, ui.surfaceWidth_, ui.surfaceHeight_);
  cairo_fill(cr);
  return TRUE;
}

gboolean GtkUI::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
  const int key = VirtualKeyOf(event);
  if (key != 0) {
    WindowEvent e;
    e.kind = EventKind::KeyDown;
    e.key = key;
    e.ctrl = (event->state & GDK_CONTROL_MASK) != 0;
    Events().Post(e);
  }
  // The window has no widgets of its own to give keys to.
  return TRUE;
}

gboolean GtkUI::OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self) {
  int x, y;
  static_cast<GtkUI*>(self)->ToSurface(event->x, event->y, &x, &y);
  Post(EventKind::MouseMove, x, y);
  return TRUE;
}

gboolean GtkUI::OnButton(GtkWidget*, GdkEventButton* event, gpointer self) {
  // Double and triple clicks also arrive as single presses.
  if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return TRUE;
  const bool down = event->type == GDK_BUTTON_PRESS;
  EventKind kind;
  if (event->button == 1)
    kind = down ? EventKind::LeftDown : EventKind::LeftUp;
  else if (event->button == 3)
    kind = down ? EventKind::RightDown : EventKind::RightUp;
  else
    return TRUE;
  int x, y;
  static_cast<GtkUI*>(self)->ToSurface(event->x, event->y, &x, &y);
  Post(kind, x, y);
  return TRUE;
}

gboolean GtkUI::OnFocusIn(GtkWidget*, GdkEvent*, gpointer self) {
  GtkUI& ui = *static_cast<GtkUI*>(self);
  if (!ui.active_) Post(EventKind::Activate);
  ui.active_ = true;
  return FALSE;
}

gboolean GtkUI::OnFocusOut(GtkWidget*, GdkEvent*, gpointer self) {
  GtkUI& ui = *static_cast<GtkUI*>(self);
  // X hands the focus over in steps (from the pointer to the window, from
  // a closing dialog back to its owner): only a loss that lasts counts.
  if (!ui.focusCheck_) ui.focusCheck_ = g_timeout_add(FocusSettleMs, SettleFocus, self);
  return FALSE;
}

gboolean GtkUI::SettleFocus(gpointer self) {
  GtkUI& ui = *static_cast<GtkUI*>(self);
  ui.focusCheck_ = 0;
  // The keyboard going to one of the program's own dialogs leaves the
  // program active.
  const bool focused = ui.window_ && gtk_window_is_active(GTK_WINDOW(ui.window_));
  if (!focused && ui.active_ && gtkui::modalWindows.empty()) {
    Post(EventKind::Deactivate);
    ui.active_ = false;
  }
  return G_SOURCE_REMOVE;
}

gboolean GtkUI::OnDelete(GtkWidget*, GdkEvent*, gpointer) {
  // The program decides; while one of its dialogs is open the window is
  // as disabled as its owner would be.
  if (gtkui::modalWindows.empty()) {
    WindowEvent e;
    e.kind = EventKind::Close;
    e.code = 0;
    Events().Post(e);
  }
  return TRUE;
}

void GtkUI::OnRealize(GtkWidget*, gpointer self) { static_cast<GtkUI*>(self)->ApplyCursor(); }

void GtkUI::PumpEvents(bool wait) {
  // Waiting needs a window whose input can end the wait.
  if (wait && window_)
    while (Events().Empty()) gtk_main_iteration_do(TRUE);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void GtkUI::WaitForRefresh() {
  const gint64 now = g_get_monotonic_time();
  const gint64 due = lastRefresh_ + RefreshPeriodUs;
  if (lastRefresh_ != 0 && now < due) {
    g_usleep(gulong(due - now));
    lastRefresh_ = due;
  } else {
    // A little late keeps the rhythm; far behind starts it again.
    lastRefresh_ = lastRefresh_ != 0 && now - due < RefreshPeriodUs ? due : now;
  }
}

void GtkUI::MovePointer(int x, int y) {
  if (!area_) return;
  GdkWindow* window = gtk_widget_get_window(area_);
  if (!window) return;
  const Placement p = CurrentPlacement();
  int originX, originY;
  gdk_window_get_origin(window, &originX, &originY);
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return;
  const int wx = originX + FirstWindowPixel(p.x, p.scale, x);
  const int wy = originY + FirstWindowPixel(p.y, p.scale, y);
  gdk_device_warp(pointer, gdk_window_get_screen(window), wx, wy);
}

GdkCursor* GtkUI::CursorFor(CursorShape shape) {
  if (!window_ || shape == CursorShape::Arrow) return nullptr;
  GdkDisplay* display = gtk_widget_get_display(window_);
  if (shape == CursorShape::Hourglass) {
    if (!waitCursor_) waitCursor_ = gdk_cursor_new_from_name(display, "wait");
    if (!waitCursor_) waitCursor_ = gdk_cursor_new_for_display(display, GDK_WATCH);
    return waitCursor_;
  }
  if (!blankCursor_) blankCursor_ = gdk_cursor_new_for_display(display, GDK_BLANK_CURSOR);
  return blankCursor_;
}

void GtkUI::ApplyCursor() {
  GdkCursor* cursor = CursorFor(cursor_);
  if (area_ && gtk_widget_get_window(area_)) gdk_window_set_cursor(gtk_widget_get_window(area_), cursor);
  // The hourglass also stands over the progress box; hidden is only for the
  // picture, which draws its own pointer.
  if (progress_ && gtk_widget_get_window(progress_))
    gdk_window_set_cursor(gtk_widget_get_window(progress_),
                          cursor_ == CursorShape::Hourglass ? cursor : nullptr);
}

void GtkUI::SetCursor(CursorShape shape) {
  cursor_ = shape;
  ApplyCursor();
}

// ---- Message boxes ---------------------------------------------------------------

int GtkUI::MessageBox(const char* text, const char* caption, unsigned type) {
  const unsigned kind = type & MB_TYPEMASK;
  const bool question = (type & MB_ICONQUESTION) != 0 || kind == MB_YESNO;
  GtkWindow* parent = gtkui::DialogParent();
  // "%s": the text is shown as given, never read as a format or markup.
  const auto flags = GtkDialogFlags(parent ? GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT : GTK_DIALOG_MODAL);
  GtkWidget* box = gtk_message_dialog_new(parent, flags, question ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE,
                                          "%s", DisplayText(text).c_str());
  gtk_window_set_title(GTK_WINDOW(box), DisplayText(caption).c_str());
  gtk_window_set_position(GTK_WINDOW(box), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  if (type & MB_SYSTEMMODAL) gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  if (question) {
    GtkIconTheme* theme = gtk_icon_theme_get_default();
    if (theme && gtk_icon_theme_has_icon(theme, "dialog-question")) {
      GtkWidget* image = gtk_image_new_from_icon_name("dialog-question", GTK_ICON_SIZE_DIALOG);
      G_GNUC_BEGIN_IGNORE_DEPRECATIONS
      gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), image);
      G_GNUC_END_IGNORE_DEPRECATIONS
      gtk_widget_show(image);
    }
  }
  int first, closed;
  switch (kind) {
    case MB_OKCANCEL:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "OK", IDOK, "Cancel", IDCANCEL, nullptr);
      first = IDOK;
      closed = IDCANCEL;
      break;
    case MB_YESNO:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "_Yes", IDYES, "_No", IDNO, nullptr);
      first = IDYES;
      closed = IDNO;
      break;
    default:
      gtk_dialog_add_button(GTK_DIALOG(box), "OK", IDOK);
      first = closed = IDOK;
      break;
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box), first);
  if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), first)) gtk_widget_grab_focus(button);
  gtkui::FocusWhenMapped(box);
  GtkWindow* modal = GTK_WINDOW(box);
  gtkui::PushModal(modal);
  const int response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  gtkui::PopModal(modal);
  // The window's close button and Esc answer with the choice that changes
  // nothing.
  const bool known = response == IDOK || response == IDCANCEL || response == IDYES || response == IDNO;
  return known ? response : closed;
}

// ---- File dialogs ----------------------------------------------------------------

// A pattern such as "*.vnx" matched without regard to case: "*.[vV][nN][xX]".
std::string CaseFreePattern(const std::string& pattern) {
  if (pattern == "*.*") return "*";
  std::string out;
  for (char c : pattern) {
    if (g_ascii_isalpha(c)) {
      out += '[';
      out += char(g_ascii_tolower(c));
      out += char(g_ascii_toupper(c));
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

// The chooser picks its own size, which can exceed a small screen.
void FitToMonitor(GtkWidget* widget, gpointer) {
  GdkWindow* window = gtk_widget_get_window(widget);
  GdkDisplay* display = gtk_widget_get_display(widget);
  GdkMonitor* monitor = window ? gdk_display_get_monitor_at_window(display, window) : nullptr;
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  int width, height;
  gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
  const int maxWidth = area.width * 9 / 10, maxHeight = area.height * 9 / 10;
  if (width <= maxWidth && height <= maxHeight) return;
  width = std::min(width, maxWidth);
  height = std::min(height, maxHeight);
  gtk_window_resize(GTK_WINDOW(widget), width, height);
  gtk_window_move(GTK_WINDOW(widget), area.x + (area.width - width) / 2, area.y + (area.height - height) / 2);
}

bool GtkUI::FileDialog(const FileDialogRequest& request, FileDialogResult* out) {
  if (!out) return false;
  GtkWindow* parent = gtkui::DialogParent();
  const GtkFileChooserAction action = request.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN;
  GtkWidget* chooser = gtk_file_chooser_dialog_new(request.save ? "Save As" : "Open", parent, action, "_Cancel",
                                                   GTK_RESPONSE_CANCEL, request.save ? "_Save" : "_Open",
                                                   GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_file_chooser_set_local_only(fc, TRUE);
  std::vector<GtkFileFilter*> filters;
  for (const FileFilter& entry : request.filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, DisplayText(entry.description).c_str());
    const std::string patterns = entry.pattern ? entry.pattern : "*";
    size_t start = 0;
    while (start <= patterns.size()) {
      size_t end = patterns.find(';', start);
      if (end == std::string::npos) end = patterns.size();
      const std::string one = patterns.substr(start, end - start);
      if (!one.empty()) gtk_file_filter_add_pattern(filter, CaseFreePattern(one).c_str());
      start = end + 1;
    }
    gtk_file_chooser_add_filter(fc, filter);
    filters.push_back(filter);
  }
  if (!filters.empty()) gtk_file_chooser_set_filter(fc, filters.front());
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof folder)) gtk_file_chooser_set_current_folder(fc, folder);
  if (request.save) gtk_file_chooser_set_do_overwrite_confirmation(fc, (request.flags & OFN_OVERWRITEPROMPT) != 0);
  g_signal_connect(chooser, "map", G_CALLBACK(FitToMonitor), nullptr);
  gtkui::FocusWhenMapped(chooser);
  GtkWindow* modal = GTK_WINDOW(chooser);
  gtkui::PushModal(modal);
  bool chosen = false;
  for (;;) {
    if (gtk_dialog_run(GTK_DIALOG(chooser)) != GTK_RESPONSE_ACCEPT) break;
    gchar* name = gtk_file_chooser_get_filename(fc);
    if (!name) continue;
    const bool mustExist = !request.save && (request.flags & OFN_FILEMUSTEXIST);
    if (mustExist && !g_file_test(name, G_FILE_TEST_IS_REGULAR)) {
      GtkWidget* note = gtk_message_dialog_new(GTK_WINDOW(chooser), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_OK, "%s\nFile not found.\nCheck the file name and try again.",
                                               DisplayText(name).c_str());
      gtk_window_set_title(GTK_WINDOW(note), "Open");
      gtk_dialog_run(GTK_DIALOG(note));
      gtk_widget_destroy(note);
      g_free(name);
      continue;
    }
    out->path = name;
    g_free(name);
    out->filterIndex = 1;
    GtkFileFilter* current = gtk_file_chooser_get_filter(fc);
    for (size_t i = 0; i < filters.size(); ++i)
      if (filters[i] == current) out->filterIndex = int(i) + 1;
    chosen = true;
    break;
  }
  gtk_widget_destroy(chooser);
  gtkui::PopModal(modal);
  return chosen;
}

// ---- Progress box ----------------------------------------------------------------

void GtkUI::LetProgressDraw() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void GtkUI::ProgressCreate() {
  if (progress_) ProgressDestroy();
  progress_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* box = GTK_WINDOW(progress_);
  gtk_window_set_title(box, "Vornix 3D!");
  gtk_window_set_type_hint(box, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(box, FALSE);
  gtk_window_set_deletable(box, FALSE);
  // It only reports: the keyboard stays where it is.
  gtk_window_set_accept_focus(box, FALSE);
  gtk_window_set_focus_on_map(box, FALSE);
  if (gtkui::mainWindow) {
    gtk_window_set_transient_for(box, gtkui::mainWindow);
    gtk_window_set_skip_taskbar_hint(box, TRUE);
  }
  gtk_window_set_position(box, gtkui::mainWindow ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  g_signal_connect(progress_, "delete-event", G_CALLBACK(gtk_true), nullptr);

  progressFrame_ = gtk_frame_new("PROGRESS");
  gtk_widget_set_margin_start(progressFrame_, 12);
  gtk_widget_set_margin_end(progressFrame_, 12);
  gtk_widget_set_margin_top(progressFrame_, 10);
  gtk_widget_set_margin_bottom(progressFrame_, 12);
  GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(lines), 10);
  for (int i = 0; i < 3; ++i) {
    GtkWidget* label = gtk_label_new("");
    // A fixed width keeps the box still while its texts change.
    gtk_label_set_width_chars(GTK_LABEL(label), 44);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 44);
    gtk_label_set_ellipsize(GTK_LABEL(label), i == 0 ? PANGO_ELLIPSIZE_MIDDLE : PANGO_ELLIPSIZE_END);
    gtk_label_set_xalign(GTK_LABEL(label), i == 0 ? 0.0f : 0.5f);
    gtk_box_pack_start(GTK_BOX(lines), label, FALSE, FALSE, 0);
    progressLines_[i] = label;
  }
  gtk_container_add(GTK_CONTAINER(progressFrame_), lines);
  gtk_container_add(GTK_CONTAINER(progress_), progressFrame_);
  gtk_widget_show_all(progress_);
  ApplyCursor();
  // The box should be on screen before the pass it reports on starts;
  // bounded, as the pass must go on regardless.
  const gint64 deadline = g_get_monotonic_time() + G_USEC_PER_SEC / 4;
  while (!gtk_widget_get_mapped(progress_) && g_get_monotonic_time() < deadline) {
    if (gtk_events_pending())
      gtk_main_iteration_do(FALSE);
    else
      g_usleep(1000);
  }
  ApplyCursor();
  LetProgressDraw();
}

void GtkUI::ProgressSetText(int control, const char* text) {
  if (!progress_) return;
  const std::string shown = DisplayText(text);
  switch (control) {
    case ProgressGroup: gtk_frame_set_label(GTK_FRAME(progressFrame_), shown.c_str()); break;
    case ProgressLine1: gtk_label_set_text(GTK_LABEL(progressLines_[0]), shown.c_str()); break;
    case ProgressLine2: gtk_label_set_text(GTK_LABEL(progressLines_[1]), shown.c_str()); break;
    case ProgressPercentLine: gtk_label_set_text(GTK_LABEL(progressLines_[2]), shown.c_str()); break;
    default: return;
  }
  LetProgressDraw();
}

void GtkUI::ProgressDestroy() {
  if (!progress_) return;
  GtkWidget* box = progress_;
  progress_ = progressFrame_ = nullptr;
  progressLines_[0] = progressLines_[1] = progressLines_[2] = nullptr;
  gtk_widget_destroy(box);
  LetProgressDraw();
}

}  // namespace

PlatformUI* CreateGtkUI(bool windowed, std::string* error) {
  if (!gtk_init_check(nullptr, nullptr)) {
    if (error) {
      const char* name = gdk_get_display_arg_name();
      if (!name) name = std::getenv("DISPLAY");
      *error = name && *name ? std::string("cannot open display ") + name : "no display is set (DISPLAY is empty)";
    }
    return nullptr;
  }
  return new GtkUI(windowed);
}

// The entry the program looks up after loading this backend as a module.
extern "C" PlatformUI* VornixCreateGtkUI(bool windowed, std::string* error) { return CreateGtkUI(windowed, error); }
