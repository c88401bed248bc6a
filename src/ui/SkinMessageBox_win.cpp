#include "ui/SkinMessageBox.h"

#include <utility>

#include "resources/resource.h"
#include "ui/SkinMath.h"

namespace ui {

CMessageBox::CMessageBox(HWND parent) : CDlgEx(IDD_MESSAGE_BOX, parent) {}

CMessageBox::~CMessageBox() {
  m_btn1.DestroyWindow();
  m_btn2.DestroyWindow();
}

void CMessageBox::SetContent(base::UniqueHBitmap background, base::UniqueHBitmap closeStrip,
                             base::UniqueHBitmap firstStrip, base::UniqueHBitmap secondStrip, const wchar_t* message,
                             const wchar_t* caption, int style, const wchar_t* firstCaption,
                             const wchar_t* secondCaption) {
  m_hBack = std::move(background);
  m_hClose = std::move(closeStrip);
  m_hBtn1 = std::move(firstStrip);
  m_hBtn2 = std::move(secondStrip);
  m_strMessage = message ? message : L"";
  m_strCaption = caption ? caption : L"";
  m_nStyle = style;
  m_strBtn1 = firstCaption ? firstCaption : L"";
  m_strBtn2 = secondCaption ? secondCaption : L"";
  m_crMsgText = 0;
}

SIZE CMessageBox::MeasureMessage(HDC dc) const {
  RECT rc = {0, 0, 0, 0};
  ::DrawTextW(dc, m_strMessage.c_str(), static_cast<int>(m_strMessage.size()), &rc, DT_CALCRECT);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

BOOL CMessageBox::OnInitDialog() {
  CDlgEx::OnInitDialog();
  m_nTitleHeight = 30;
  m_nBorder = 4;
  m_nBtnRightMargin = 0;
  m_nBtnTop = 0;
  m_nBtnGap = 0;
  SetSkin(std::move(m_hBack), m_hClose.get());
  SetTitle(m_strCaption.c_str());
  m_nLines = CountLines(m_strMessage.c_str());

  m_pFont = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  SIZE text = {0, 0};
  {
    base::UniqueWindowDC dc(m_hWnd);
    base::ScopedSelectObject selectFont(dc.get(), m_pFont);
    text = MeasureMessage(dc.get());
  }
  BITMAP strip = {};
  if (m_hBtn1) ::GetObjectW(m_hBtn1.get(), sizeof(strip), &strip);
  const MessageBoxLayout layout =
      ComputeMessageBoxLayout(m_nStyle, text.cx, text.cy, m_nLines, strip.bmWidth, strip.bmHeight);
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, layout.width, layout.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  const RECT client = ClientRect();
  Rect places[2] = {};
  const int count =
      PlaceMessageBoxButtons(m_nStyle, client.right, client.bottom, strip.bmWidth / 4, strip.bmHeight, places);
  struct ButtonSetup {
    CBtnEx* button;
    HBITMAP strip;
    UINT id;
    const std::wstring* caption;
    const wchar_t* fallback;
  } setups[2] = {{&m_btn1, m_hBtn1.get(), kFirstButtonId, &m_strBtn1, DefaultFirstCaption(m_nStyle)},
                {&m_btn2, m_hBtn2.get(), kSecondButtonId, &m_strBtn2, DefaultSecondCaption(m_nStyle)}};
  for (int i = 0; i < count; ++i) {
    const RECT rc = {places[i].left, places[i].top, places[i].right, places[i].bottom};
    ButtonSetup& s = setups[i];
    if (!s.button->Create(L"", WS_CHILD | WS_VISIBLE, rc, m_hWnd, s.id)) continue;
    s.button->SetImageStrip(s.strip, TRUE);
    s.button->SetText(s.caption->empty() ? s.fallback : s.caption->c_str());
    s.button->Invalidate(true);
  }
  return TRUE;
}

bool CMessageBox::OnCommand(WORD id, WORD code, HWND control) {
  if (id == kFirstButtonId) {
    EndDialog(FirstButtonResult(m_nStyle));
    return true;
  }
  if (id == kSecondButtonId) {
    EndDialog(SecondButtonResult(m_nStyle));
    return true;
  }
  return CDlgEx::OnCommand(id, code, control);
}

void CMessageBox::PaintMessage() {
  base::UniqueWindowDC dc(m_hWnd);
  if (!dc) return;
  base::ScopedSelectObject selectFont(dc.get(), m_pFont);
  ::SetBkMode(dc.get(), TRANSPARENT);
  ::SetTextColor(dc.get(), m_crMsgText);
  const SIZE text = MeasureMessage(dc.get());
  const int lineHeight = text.cy / (m_nLines > 0 ? m_nLines : 1);
  const RECT client = ClientRect();
  RECT r;
  r.left = (client.right - text.cx) / 2;
  r.right = r.left + text.cx;
  r.top = 55;
  r.bottom = 55 + lineHeight;
  const wchar_t* p = m_strMessage.c_str();
  for (;;) {
    const wchar_t* lf = wcschr(p, L'\n');
    if (!lf) {
      ::DrawTextW(dc.get(), p, -1, &r, 0);
      break;
    }
    ::DrawTextW(dc.get(), p, static_cast<int>(lf - p), &r, 0);
    p = lf + 1;
    if (!*p) break;
    ::OffsetRect(&r, 0, lineHeight + 3);
  }
}

bool CMessageBox::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_PAINT:
      // The dialog paints as usual first (its erase paints the skin); the
      // message goes on top through a window DC.
      DefaultProc(WM_PAINT, wParam, lParam);
      PaintMessage();
      *result = 0;
      return true;
    case WM_CLOSE:
      app::CDialog::OnCancel();  // the base's cancel, not the empty override
      *result = 0;
      return true;
    default:
      return CDlgEx::OnMessage(msg, wParam, lParam, result);
  }
}

int RunMessageBox(base::UniqueHBitmap background, base::UniqueHBitmap closeStrip, base::UniqueHBitmap firstStrip,
                  base::UniqueHBitmap secondStrip, const wchar_t* message, const wchar_t* caption, int style,
                  const wchar_t* firstCaption, const wchar_t* secondCaption) {
  CMessageBox box(nullptr);
  box.SetContent(std::move(background), std::move(closeStrip), std::move(firstStrip), std::move(secondStrip), message,
                 caption, style, firstCaption, secondCaption);
  return static_cast<int>(box.DoModal());
}

}  // namespace ui
