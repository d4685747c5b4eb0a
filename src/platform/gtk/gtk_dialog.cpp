// Dialogs from templates: real widgets laid out on grids, kept in step with
// the Dialog's state in both directions.
#include <cmath>
#include <map>
#include <vector>

#include "platform/gtk/gtk_internal.h"

namespace gtkui {

namespace {

struct Item {
  const DialogControl* control = nullptr;
  GtkWidget* outer = nullptr;  // what sits in the grid
  GtkWidget* widget = nullptr; // what holds the state (entry, label, tree view ...)
  GtkListStore* rows = nullptr;
  cairo_surface_t* pixels = nullptr;
};

class GtkDialogBox final : public Dialog {
 public:
  GtkDialogBox(const DialogTemplate& dialogTemplate, DialogProc proc, void* context)
      : Dialog(dialogTemplate, proc, context) {}
  ~GtkDialogBox() override;

  bool Build();
  int Run();

 protected:
  void Changed(int id) override;

 private:
  Item* Find(int id);
  GtkWidget* MakeWidget(Item& item);
  GtkWidget* GridFor(const DialogControl& control);
  void PushList(Item& item);
  void PushPixels(Item& item);
  void FocusFirst();

  static void OnEntryChanged(GtkEditable* editable, gpointer self);
  static void OnClicked(GtkButton* button, gpointer self);
  static void OnSelection(GtkTreeSelection* selection, gpointer self);
  static gboolean OnPaint(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean OnKey(GtkWidget* window, GdkEventKey* event, gpointer self);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);

  GtkWidget* window_ = nullptr;
  GtkWidget* grid_ = nullptr;
  std::vector<Item> items_;
  std::map<int, GtkWidget*> groupGrids_;
  // One unshown member per radio group stands for "none checked", which a
  // toolkit radio group cannot otherwise show.
  std::map<int, GtkWidget*> noneRadios_;
  int defaultId_ = IDC_OK;
  // Nonzero while the program itself changes a widget: its signals are then
  // not the user's.
  int updating_ = 0;
};

GtkDialogBox::~GtkDialogBox() {
  ++updating_;
  if (window_) gtk_widget_destroy(window_);
  for (auto& entry : noneRadios_) g_object_unref(entry.second);
  for (Item& item : items_) {
    if (item.rows) g_object_unref(item.rows);
    if (item.pixels) cairo_surface_destroy(item.pixels);
  }
}

Item* GtkDialogBox::Find(int id) {
  for (Item& item : items_)
    if (item.control->id == id) return &item;
  return nullptr;
}

GtkWidget* NewGrid(int margin) {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_widget_set_margin_start(grid, margin);
  gtk_widget_set_margin_end(grid, margin);
  gtk_widget_set_margin_top(grid, margin);
  gtk_widget_set_margin_bottom(grid, margin);
  return grid;
}

// The decoration of a picture control: a shaded cube.
gboolean DrawEmblem(GtkWidget* widget, cairo_t* cr, gpointer) {
  const double w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
  const double s = std::min(w, h) * 0.42, cx = w / 2, cy = h / 2;
  const double dx = s * std::cos(M_PI / 6), dy = s * 0.5;
  struct Face {
    double points[4][2];
    double r, g, b;
  } faces[3] = {
      {{{cx, cy - s}, {cx + dx, cy - dy}, {cx, cy}, {cx - dx, cy - dy}}, 0.55, 0.80, 0.55},
      {{{cx - dx, cy - dy}, {cx, cy}, {cx, cy + s}, {cx - dx, cy + dy}}, 0.20, 0.45, 0.25},
      {{{cx, cy}, {cx + dx, cy - dy}, {cx + dx, cy + dy}, {cx, cy + s}}, 0.32, 0.60, 0.35},
  };
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr, 1.5);
  for (const Face& f : faces) {
    cairo_move_to(cr, f.points[0][0], f.points[0][1]);
    for (int i = 1; i < 4; ++i) cairo_line_to(cr, f.points[i][0], f.points[i][1]);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, f.r, f.g, f.b);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.08, 0.15, 0.08);
    cairo_stroke(cr);
  }
  return TRUE;
}

GtkWidget* GtkDialogBox::MakeWidget(Item& item) {
  const DialogControl& c = *item.control;
  const std::string label = DisplayText(c.label);
  GtkWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::StaticText:
      w = gtk_label_new(label.c_str());
      gtk_label_set_xalign(GTK_LABEL(w), 0.0f);
      gtk_label_set_line_wrap(GTK_LABEL(w), TRUE);
      gtk_label_set_max_width_chars(GTK_LABEL(w), 64);
      break;
    case ControlKind::Edit:
    case ControlKind::ReadOnlyEdit:
      w = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(w), label.c_str());
      gtk_entry_set_width_chars(GTK_ENTRY(w), 10);
      gtk_widget_set_hexpand(w, TRUE);
      if (c.kind == ControlKind::ReadOnlyEdit) {
        gtk_editable_set_editable(GTK_EDITABLE(w), FALSE);
      } else {
        gtk_entry_set_activates_default(GTK_ENTRY(w), TRUE);
        g_signal_connect(w, "changed", G_CALLBACK(OnEntryChanged), this);
      }
      break;
    case ControlKind::Button:
    case ControlKind::DefaultButton:
      w = gtk_button_new_with_label(label.c_str());
      g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), this);
      break;
    case ControlKind::CheckBox:
      w = gtk_check_button_new_with_label(label.c_str());
      g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), this);
      break;
    case ControlKind::RadioButton: {
      GtkWidget*& none = noneRadios_[c.group];
      if (!none) none = GTK_WIDGET(g_object_ref_sink(gtk_radio_button_new(nullptr)));
      w = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(none), label.c_str());
      g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), this);
      break;
    }
    case ControlKind::ListBox: {
      item.rows = gtk_list_store_new(1, G_TYPE_STRING);
      w = gtk_tree_view_new_with_model(GTK_TREE_MODEL(item.rows));
      gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(w), FALSE);
      gtk_tree_view_set_enable_search(GTK_TREE_VIEW(w), FALSE);
      gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(w), -1, "", gtk_cell_renderer_text_new(), "text", 0,
                                                  nullptr);
      GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w));
      gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
      g_signal_connect(selection, "changed", G_CALLBACK(OnSelection), this);
      item.outer = gtk_scrolled_window_new(nullptr, nullptr);
      gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(item.outer), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
      gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(item.outer), GTK_SHADOW_IN);
      gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(item.outer), 96);
      gtk_scrolled_window_set_min_content_width(GTK_SCROLLED_WINDOW(item.outer), 200);
      gtk_widget_set_hexpand(item.outer, TRUE);
      gtk_widget_set_vexpand(item.outer, TRUE);
      gtk_container_add(GTK_CONTAINER(item.outer), w);
      break;
    }
    case ControlKind::GroupBox: {
      w = gtk_frame_new(label.c_str());
      GtkWidget* inner = NewGrid(8);
      gtk_container_add(GTK_CONTAINER(w), inner);
      if (c.id != 0) groupGrids_[c.id] = inner;
      break;
    }
    case ControlKind::Picture:
      w = gtk_drawing_area_new();
      gtk_widget_set_size_request(w, 72, 72);
      gtk_widget_set_valign(w, GTK_ALIGN_START);
      if (!label.empty()) gtk_widget_set_tooltip_text(w, label.c_str());
      g_signal_connect(w, "draw", G_CALLBACK(DrawEmblem), nullptr);
      break;
    case ControlKind::PaintArea:
      w = gtk_drawing_area_new();
      gtk_widget_set_size_request(w, std::max(c.width, 1), std::max(c.height, 1));
      gtk_widget_set_halign(w, GTK_ALIGN_CENTER);
      gtk_widget_set_valign(w, GTK_ALIGN_CENTER);
      if (c.width > 0 && c.height > 0) item.pixels = cairo_image_surface_create(CAIRO_FORMAT_RGB24, c.width, c.height);
      g_signal_connect(w, "draw", G_CALLBACK(OnPaint), this);
      break;
  }
  item.widget = w;
  if (!item.outer) item.outer = w;
  g_object_set_data(G_OBJECT(w), "vx-control", const_cast<DialogControl*>(&c));
  return w;
}

// The grid a control goes into: its group box's, or the dialog's when the
// parent is no group box or the groups would contain each other.
GtkWidget* GtkDialogBox::GridFor(const DialogControl& control) {
  int parent = control.parent;
  for (size_t depth = 0; parent != 0; ++depth) {
    const DialogControl* group = Control(parent);
    if (!group || group->kind != ControlKind::GroupBox || parent == control.id || depth > items_.size())
      return grid_;
    parent = group->parent;
  }
  auto found = groupGrids_.find(control.parent);
  return found == groupGrids_.end() ? grid_ : found->second;
}

// Dialogs must fit a 640 x 480 screen: controls a little tighter than the
// theme's, installed once for every dialog.
void UseCompactStyle(GtkWidget* window) {
  static GtkCssProvider* provider = nullptr;
  if (!provider) {
    provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider,
                                    ".vx-dialog entry { min-height: 22px; padding-top: 2px; padding-bottom: 2px; }\n"
                                    ".vx-dialog button { min-height: 20px; padding-top: 3px; padding-bottom: 3px; }\n",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  gtk_style_context_add_class(gtk_widget_get_style_context(window), "vx-dialog");
}

bool GtkDialogBox::Build() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  UseCompactStyle(window_);
  GtkWindow* window = GTK_WINDOW(window_);
  GtkWindow* parent = DialogParent();
  gtk_window_set_title(window, DisplayText(Caption().c_str()).c_str());
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_resizable(window, FALSE);
  if (parent) {
    gtk_window_set_transient_for(window, parent);
    gtk_window_set_destroy_with_parent(window, TRUE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
  }
  gtk_window_set_position(window, parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  FocusWhenMapped(window_);

  grid_ = NewGrid(14);
  gtk_container_add(GTK_CONTAINER(window_), grid_);
  const std::vector<DialogControl>& controls = Template().controls;
  items_.resize(controls.size());
  ++updating_;
  for (size_t i = 0; i < controls.size(); ++i) {
    items_[i].control = &controls[i];
    MakeWidget(items_[i]);
  }
  for (Item& item : items_) {
    const DialogControl& c = *item.control;
    gtk_grid_attach(GTK_GRID(GridFor(c)), item.outer, std::max(c.column, 0), std::max(c.row, 0),
                    std::max(c.columnSpan, 1), std::max(c.rowSpan, 1));
  }
  // Only a widget already inside the window can become its default.
  for (Item& item : items_) {
    if (item.control->kind != ControlKind::DefaultButton) continue;
    defaultId_ = item.control->id;
    gtk_widget_set_can_default(item.widget, TRUE);
    gtk_widget_grab_default(item.widget);
    // Shows which button Enter presses.
    gtk_style_context_add_class(gtk_widget_get_style_context(item.widget), GTK_STYLE_CLASS_SUGGESTED_ACTION);
    break;
  }
  --updating_;
  return true;
}

void GtkDialogBox::FocusFirst() {
  for (Item& item : items_) {
    switch (item.control->kind) {
      case ControlKind::Edit:
      case ControlKind::ListBox:
      case ControlKind::CheckBox:
      case ControlKind::Button:
      case ControlKind::DefaultButton:
        gtk_widget_grab_focus(item.widget);
        return;
      case ControlKind::RadioButton:
        if (!IsDlgButtonChecked(item.control->id)) continue;
        gtk_widget_grab_focus(item.widget);
        return;
      default: break;
    }
  }
}

int GtkDialogBox::Run() {
  Start();
  if (!Ended()) {
    gtk_widget_show_all(window_);
    // Texts changed later may make the dialog grow, never jump smaller.
    const int width = gtk_widget_get_allocated_width(grid_), height = gtk_widget_get_allocated_height(grid_);
    if (width > 1 && height > 1) gtk_widget_set_size_request(grid_, width, height);
    FocusFirst();
    GtkWindow* modal = GTK_WINDOW(window_);
    PushModal(modal);
    while (!Ended()) gtk_main_iteration();
    ++updating_;
    gtk_widget_destroy(window_);
    window_ = nullptr;
    PopModal(modal);
  }
  return Result();
}

void GtkDialogBox::PushList(Item& item) {
  GtkTreeModel* model = GTK_TREE_MODEL(item.rows);
  const int count = ListCount(item.control->id);
  // Rows are mostly added one at a time: keep what is already there when it
  // still matches.
  int kept = gtk_tree_model_iter_n_children(model, nullptr);
  if (kept > count) kept = -1;
  for (int i = 0; i < kept; ++i) {
    GtkTreeIter iter;
    gchar* text = nullptr;
    gtk_tree_model_iter_nth_child(model, &iter, nullptr, i);
    gtk_tree_model_get(model, &iter, 0, &text, -1);
    const bool same = text && DisplayText(ListText(item.control->id, i).c_str()) == text;
    g_free(text);
    if (!same) {
      kept = -1;
      break;
    }
  }
  if (kept < 0) {
    gtk_list_store_clear(item.rows);
    kept = 0;
  }
  for (int i = kept; i < count; ++i) {
    GtkTreeIter iter;
    gtk_list_store_append(item.rows, &iter);
    gtk_list_store_set(item.rows, &iter, 0, DisplayText(ListText(item.control->id, i).c_str()).c_str(), -1);
  }
  GtkTreeView* view = GTK_TREE_VIEW(item.widget);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(view);
  const int selected = ListSelection(item.control->id);
  if (selected < 0 || selected >= count) {
    gtk_tree_selection_unselect_all(selection);
    return;
  }
  GtkTreePath* path = gtk_tree_path_new_from_indices(selected, -1);
  // The cursor follows, so that the arrow keys go on from the selected row.
  gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
  gtk_tree_selection_select_path(selection, path);
  if (gtk_widget_get_realized(item.widget)) gtk_tree_view_scroll_to_cell(view, path, nullptr, FALSE, 0, 0);
  gtk_tree_path_free(path);
}

void GtkDialogBox::PushPixels(Item& item) {
  if (!item.pixels) return;
  const std::vector<uint32_t>& pixels = PaintedPixels(item.control->id);
  const int width = cairo_image_surface_get_width(item.pixels), height = cairo_image_surface_get_height(item.pixels);
  if (pixels.size() != size_t(width) * size_t(height)) return;
  cairo_surface_flush(item.pixels);
  unsigned char* data = cairo_image_surface_get_data(item.pixels);
  const int stride = cairo_image_surface_get_stride(item.pixels);
  for (int y = 0; y < height; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
    for (int x = 0; x < width; ++x) row[x] = pixels[size_t(y) * size_t(width) + size_t(x)] & 0x00FFFFFFu;
  }
  cairo_surface_mark_dirty(item.pixels);
  gtk_widget_queue_draw(item.widget);
}

void GtkDialogBox::Changed(int id) {
  if (!window_) return;
  if (id == 0) {
    gtk_window_set_title(GTK_WINDOW(window_), DisplayText(Caption().c_str()).c_str());
    return;
  }
  Item* item = Find(id);
  if (!item) return;
  ++updating_;
  const std::string text = DisplayText(ItemText(id).c_str());
  GtkWidget* w = item->widget;
  switch (item->control->kind) {
    case ControlKind::StaticText: gtk_label_set_text(GTK_LABEL(w), text.c_str()); break;
    case ControlKind::Edit:
    case ControlKind::ReadOnlyEdit:
      // The user's own typing comes back here: leave the entry (and its
      // cursor) alone then.
      if (text != gtk_entry_get_text(GTK_ENTRY(w))) gtk_entry_set_text(GTK_ENTRY(w), text.c_str());
      break;
    case ControlKind::Button:
    case ControlKind::DefaultButton:
      if (text != gtk_button_get_label(GTK_BUTTON(w))) gtk_button_set_label(GTK_BUTTON(w), text.c_str());
      break;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
      if (text != gtk_button_get_label(GTK_BUTTON(w))) gtk_button_set_label(GTK_BUTTON(w), text.c_str());
      const bool checked = IsDlgButtonChecked(id) != 0;
      const bool shown = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));
      if (checked != shown) {
        if (item->control->kind == ControlKind::RadioButton && !checked)
          gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(noneRadios_[item->control->group]), TRUE);
        else
          gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), checked);
      }
      break;
    }
    case ControlKind::GroupBox: gtk_frame_set_label(GTK_FRAME(w), text.c_str()); break;
    case ControlKind::ListBox: PushList(*item); break;
    case ControlKind::PaintArea: PushPixels(*item); break;
    case ControlKind::Picture: break;
  }
  --updating_;
}

int IdOf(gpointer widget) {
  const auto* c = static_cast<const DialogControl*>(g_object_get_data(G_OBJECT(widget), "vx-control"));
  return c ? c->id : 0;
}

void GtkDialogBox::OnEntryChanged(GtkEditable* editable, gpointer self) {
  GtkDialogBox& box = *static_cast<GtkDialogBox*>(self);
  if (box.updating_ || box.Ended()) return;
  box.UserSetText(IdOf(editable), gtk_entry_get_text(GTK_ENTRY(editable)));
}

void GtkDialogBox::OnClicked(GtkButton* button, gpointer self) {
  GtkDialogBox& box = *static_cast<GtkDialogBox*>(self);
  if (box.updating_ || box.Ended()) return;
  // A radio button the user leaves is clicked off too; only the one
  // chosen counts.
  if (GTK_IS_RADIO_BUTTON(button) && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button))) return;
  box.UserClick(IdOf(button));
}

void GtkDialogBox::OnSelection(GtkTreeSelection* selection, gpointer self) {
  GtkDialogBox& box = *static_cast<GtkDialogBox*>(self);
  if (box.updating_ || box.Ended()) return;
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  int index = -1;
  if (gtk_tree_selection_get_selected(selection, &model, &iter)) {
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
  }
  box.UserSelect(IdOf(gtk_tree_selection_get_tree_view(selection)), index);
}

gboolean GtkDialogBox::OnPaint(GtkWidget* widget, cairo_t* cr, gpointer self) {
  GtkDialogBox& box = *static_cast<GtkDialogBox*>(self);
  for (Item& item : box.items_) {
    if (item.widget != widget || !item.pixels) continue;
    // Until the procedure paints, the dialog's own background shows.
    if (box.PaintedPixels(item.control->id).empty()) continue;
    const double x = std::floor((gtk_widget_get_allocated_width(widget) - item.control->width) / 2.0);
    const double y = std::floor((gtk_widget_get_allocated_height(widget) - item.control->height) / 2.0);
    cairo_set_source_surface(cr, item.pixels, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
  }
  return TRUE;
}

gboolean GtkDialogBox::OnKey(GtkWidget* window, GdkEventKey* event, gpointer self) {
  GtkDialogBox& box = *static_cast<GtkDialogBox*>(self);
  if (box.Ended()) return TRUE;
  switch (event->keyval) {
    case GDK_KEY_Escape: box.UserClick(IDC_CANCEL); return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: {
      // A focused push button takes Enter itself; anywhere else Enter
      // presses the default button, as in an entry.
      GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
      if (focus && GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) return FALSE;
      box.UserClick(box.defaultId_);
      return TRUE;
    }
    default: return FALSE;
  }
}

gboolean GtkDialogBox::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  GtkDialogBox& box = *static_cast<GtkDialogBox*>(self);
  // The procedure decides whether Cancel closes the dialog.
  if (!box.Ended()) box.UserClick(IDC_CANCEL);
  return TRUE;
}

}  // namespace

int RunTemplateDialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context) {
  GtkDialogBox box(dialogTemplate, proc, context);
  if (!box.Build()) return -1;
  return box.Run();
}

}  // namespace gtkui
