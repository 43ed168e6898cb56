// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace exitwise::ui {

// Fills the detail column while no closure is selected: what a diagnosis will show.
class IdleDetailView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxContentWidth = 520;

    explicit IdleDetailView(QWidget* parent = nullptr);
};

} // namespace exitwise::ui
