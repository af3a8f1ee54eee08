#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The state of the window's controls. The logic owns it; the toolkit shows it
// and reports what the user does to it, so every rule of a list box or check box
// holds the same whether a real window or a test stands behind it.
namespace tavro {

// A list box: an unsorted sequence of texts addressed from 0, with a signed
// 16-bit count, and at most one selected entry.
class ListBox {
public:
    static constexpr std::int16_t MaxEntries = 32767;
    static constexpr std::int16_t NoSelection = -1;

    // What a view of the list is told after each change.
    struct Observer {
        virtual ~Observer() = default;
        virtual void appended(const std::string& text) = 0;
        virtual void removed(std::int16_t position) = 0;
        virtual void selectionChanged(std::int16_t position) = 0;
    };

    ListBox() = default;
    ListBox(const ListBox&) = delete;
    ListBox& operator=(const ListBox&) = delete;

    std::int16_t count() const noexcept { return static_cast<std::int16_t>(m_entries.size()); }
    // The text at a position; the position equal to the count reads as the empty
    // text. Raises InvalidPropertyArrayIndex for any other position outside the list.
    const std::string& text(std::int16_t position) const;
    // Appends at the end. Raises Overflow when the list already holds MaxEntries.
    void append(std::string text);
    // Removes the entry at a position; a selection after it moves with its entry,
    // a selection on it is cleared. Raises InvalidPropertyArrayIndex outside the list.
    void removeAt(std::int16_t position);
    std::int16_t selected() const noexcept { return m_selected; }
    // Selects a position, or NoSelection. Raises InvalidPropertyArrayIndex outside the list.
    void setSelected(std::int16_t position);
    void clear();

    void setObserver(Observer* observer) noexcept { m_observer = observer; }

private:
    std::vector<std::string> m_entries;
    std::int16_t m_selected = NoSelection;
    Observer* m_observer = nullptr;
};

// A check box value: 0 unchecked, 1 checked, 2 grayed.
class CheckBox {
public:
    static constexpr std::int16_t Unchecked = 0;
    static constexpr std::int16_t Checked = 1;
    static constexpr std::int16_t Grayed = 2;

    CheckBox() = default;
    CheckBox(const CheckBox&) = delete;
    CheckBox& operator=(const CheckBox&) = delete;

    std::int16_t value() const noexcept { return m_value; }
    // Raises InvalidPropertyValue for a value other than 0, 1 or 2.
    void setValue(std::int16_t value);
    // Called after every change of the value, from the program or the user.
    void setObserver(std::function<void(std::int16_t)> observer) { m_observer = std::move(observer); }

private:
    std::int16_t m_value = Unchecked;
    std::function<void(std::int16_t)> m_observer;
};

// The caption of a button or a menu item.
class Caption {
public:
    explicit Caption(std::string text) : m_text(std::move(text)) {}
    Caption(const Caption&) = delete;
    Caption& operator=(const Caption&) = delete;

    const std::string& text() const noexcept { return m_text; }
    void setText(std::string text);
    void setObserver(std::function<void(const std::string&)> observer) { m_observer = std::move(observer); }

private:
    std::string m_text;
    std::function<void(const std::string&)> m_observer;
};

} // namespace tavro
