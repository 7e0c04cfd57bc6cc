#include "app/win/dialog_template.h"

#include <string_view>

#include "app/form_defaults.h"
#include "app/form_table.h"

namespace hj5 {
namespace {

// The predefined window classes of a dialog item, by their atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

// A template is written in WORDs; DWORDs and texts go in as their WORDs.
class TemplateWriter {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  // A Latin text as UTF-16, terminated.
  void Text(std::string_view text) {
    for (char c : text) Word(static_cast<unsigned char>(c));
    Word(0);
  }
  // A resource or class number in place of a text.
  void Ordinal(WORD value) {
    Word(0xFFFF);
    Word(value);
  }
  // Items start on a DWORD boundary.
  void Align() {
    if (words_.size() % 2) Word(0);
  }
  std::vector<WORD> Take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

// The styles a resource compiler (windres) gives LTEXT, EDITTEXT,
// PUSHBUTTON, DEFPUSHBUTTON and a bitmap CONTROL, and what the row's flags
// change.
DWORD StyleOf(const ControlRow& row) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  switch (row.kind) {
    case ControlKind::kLabel:
      // A hidden label is an LTEXT with styles of its own ("SS_LEFT | NOT
      // WS_VISIBLE"), which take the place of LTEXT's SS_LEFT | WS_GROUP.
      style |= SS_LEFT;
      if (!(row.flags & kHidden)) style |= WS_GROUP;
      break;
    case ControlKind::kEdit:
      style |= ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
      if (row.flags & kDigitsOnly) style |= ES_NUMBER;
      if (row.flags & kReadOnly) style |= ES_READONLY;
      if (row.flags & kNoBorder) style &= ~static_cast<DWORD>(WS_BORDER);
      break;
    case ControlKind::kButton:
      style |= WS_TABSTOP | ((row.flags & kDefaultButton) ? BS_DEFPUSHBUTTON
                                                          : BS_PUSHBUTTON);
      break;
    case ControlKind::kLogo:
      style |= SS_BITMAP;
      break;
  }
  if (row.flags & kHidden) style &= ~static_cast<DWORD>(WS_VISIBLE);
  return style;
}

WORD ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kEdit:
      return kEditClass;
    case ControlKind::kButton:
      return kButtonClass;
    case ControlKind::kLabel:
    case ControlKind::kLogo:
      break;
  }
  return kStaticClass;
}

void WriteItem(TemplateWriter& out, const ControlRow& row, WORD logo_bitmap) {
  out.Align();
  out.Dword(0);  // help id
  out.Dword(0);  // extended style
  out.Dword(StyleOf(row));
  out.Word(static_cast<WORD>(row.x));
  out.Word(static_cast<WORD>(row.y));
  out.Word(static_cast<WORD>(row.width));
  out.Word(static_cast<WORD>(row.height));
  out.Dword(static_cast<DWORD>(row.id));  // -1 for a control without one
  out.Ordinal(ClassOf(row.kind));
  if (row.kind == ControlKind::kLogo) {
    out.Ordinal(logo_bitmap);
  } else {
    out.Text(row.text);
  }
  out.Word(0);  // no creation data
}

}  // namespace

std::vector<WORD> FormDialogTemplate(WORD logo_bitmap) {
  TemplateWriter out;
  out.Word(1);       // version
  out.Word(0xFFFF);  // an extended template
  out.Dword(0);      // help id
  out.Dword(WS_EX_APPWINDOW);
  out.Dword(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  out.Word(static_cast<WORD>(FormControls().size()));
  out.Word(0);  // x and y: the system places the form
  out.Word(0);
  out.Word(kFormWidthUnits);
  out.Word(kFormHeightUnits);
  out.Word(0);  // no menu
  out.Word(0);  // the dialog class
  out.Text(kFormTitle);
  out.Word(kFormFontPoints);
  out.Word(FW_DONTCARE);  // the font's own weight, as FONT gives it
  out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, character set
  out.Text(kFormFontFace);
  for (const ControlRow& row : FormControls()) WriteItem(out, row, logo_bitmap);
  return out.Take();
}

}  // namespace hj5
