// Progress bars over Qt progress bars; range, position and step are kept here.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/ui_thread.h>

#include <QProgressBar>
#include <algorithm>
#include <utility>

namespace hh::win {

using detail::ApplyCommonStyle;

ProgressBar::ProgressBar(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setOrientation((tpl.style & PBS_VERTICAL) ? Qt::Vertical : Qt::Horizontal);
    Attach(bar);
    ApplyCommonStyle(bar, tpl);
    Apply();
}

void ProgressBar::Apply() {
    auto* bar = static_cast<QProgressBar*>(Widget());
    // An empty range shows an empty bar (Qt would animate a busy indicator).
    bar->setRange(m_min, m_max > m_min ? m_max : m_min + 1);
    bar->setValue(m_pos);
}

LPARAM ProgressBar::SetRange(int minimum, int maximum) {
    return CallOnUiThread([&] {
        const LPARAM previous = MAKELPARAM(m_min, m_max);
        m_min = minimum;
        m_max = maximum;
        m_pos = std::clamp(m_pos, m_min, std::max(m_min, m_max));
        Apply();
        return previous;
    });
}

int ProgressBar::SetStep(int step) {
    return CallOnUiThread([&] { return std::exchange(m_step, step); });
}

int ProgressBar::SetPos(int position) {
    return CallOnUiThread([&] {
        const int previous = m_pos;
        m_pos = std::clamp(position, m_min, std::max(m_min, m_max));
        Apply();
        return previous;
    });
}

int ProgressBar::DeltaPos(int delta) {
    return CallOnUiThread([&] {
        const int previous = m_pos;
        m_pos = std::clamp(m_pos + delta, m_min, std::max(m_min, m_max));
        Apply();
        return previous;
    });
}

int ProgressBar::StepIt() {
    return CallOnUiThread([&] {
        const int previous = m_pos;
        m_pos += m_step;
        if (m_pos > m_max) {
            m_pos = m_min + (m_pos - m_max) % std::max(1, m_max - m_min);
        } else if (m_pos < m_min) {
            m_pos = m_max - (m_min - m_pos) % std::max(1, m_max - m_min);
        }
        Apply();
        return previous;
    });
}

int ProgressBar::GetPos() const {
    return CallOnUiThread([this] { return m_pos; });
}

int ProgressBar::GetRangeMin() const {
    return CallOnUiThread([this] { return m_min; });
}

int ProgressBar::GetRangeMax() const {
    return CallOnUiThread([this] { return m_max; });
}

} // namespace hh::win
