// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <optional>

class QVBoxLayout;

namespace exitwise::ui {

// The panel under the tray item: frameless, closes when the user clicks elsewhere or presses
// Escape, holds one content widget at a time.
class PopoverWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize kContentSize{340, 380};
    // Gap between the panel and what it is anchored to.
    static constexpr int kAnchorGap = 6;

    explicit PopoverWindow(QWidget* parent = nullptr);

    // Takes `content` and shows it instead of the previous one, which is deleted once control
    // returns to the event loop (it may be the widget whose action led here). The panel is
    // 340 × 380, taller only when the content needs it.
    void setContent(QWidget* content);
    [[nodiscard]] QWidget* content() const { return m_content; }

    // Closes the panel on the application's behalf (a toggle, an action in it).
    void dismiss();
    // Whether the panel just closed by itself, e.g. because the user clicked the tray item:
    // that click must not reopen it.
    [[nodiscard]] bool closedByItselfJustNow() const;

protected:
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void fitToContent();

    QVBoxLayout* m_layout = nullptr;
    QPointer<QWidget> m_content;
    bool m_isDismissing = false;
    QElapsedTimer m_closedByItself;
};

namespace detail {
// Where the panel's top-left corner goes: centred under `anchor` (above it when the panel
// would leave the screen at the bottom), else beside `cursor` in the same way, else in the
// top-right corner; always kept inside `available`.
[[nodiscard]] QPoint
popoverPosition(QSize size, const QRect& available, const QRect& anchor, std::optional<QPoint> cursor);
} // namespace detail

} // namespace exitwise::ui
