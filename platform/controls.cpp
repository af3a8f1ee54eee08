#include "platform/controls.h"

#include "platform/error.h"

namespace tavro {

namespace {
[[noreturn]] void invalidIndex() {
    throw Error(errc::InvalidPropertyArrayIndex, "Invalid property array index");
}
} // namespace

const std::string& ListBox::text(std::int16_t position) const {
    static const std::string empty;
    if (position == count())
        return empty;
    if (position < 0 || position > count())
        invalidIndex();
    return m_entries[static_cast<std::size_t>(position)];
}

void ListBox::append(std::string text) {
    if (count() == MaxEntries)
        throw Error(errc::Overflow, "Overflow");
    m_entries.push_back(std::move(text));
    if (m_observer)
        m_observer->appended(m_entries.back());
}

void ListBox::removeAt(std::int16_t position) {
    if (position < 0 || position >= count())
        invalidIndex();
    m_entries.erase(m_entries.begin() + position);
    const std::int16_t before = m_selected;
    if (m_selected == position)
        m_selected = NoSelection;
    else if (m_selected > position)
        --m_selected;
    if (m_observer) {
        m_observer->removed(position);
        if (m_selected != before)
            m_observer->selectionChanged(m_selected);
    }
}

void ListBox::setSelected(std::int16_t position) {
    if (position < NoSelection || position >= count())
        invalidIndex();
    if (position == m_selected)
        return;
    m_selected = position;
    if (m_observer)
        m_observer->selectionChanged(m_selected);
}

void ListBox::clear() {
    while (count() > 0)
        removeAt(static_cast<std::int16_t>(count() - 1));
}

void CheckBox::setValue(std::int16_t value) {
    if (value < Unchecked || value > Grayed)
        throw Error(errc::InvalidPropertyValue, "Invalid property value");
    if (value == m_value)
        return;
    m_value = value;
    if (m_observer)
        m_observer(m_value);
}

void Caption::setText(std::string text) {
    if (text == m_text)
        return;
    m_text = std::move(text);
    if (m_observer)
        m_observer(m_text);
}

} // namespace tavro
