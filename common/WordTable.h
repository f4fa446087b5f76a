#pragma once
// Enumerations that the settings file and the command line spell as words:
// one table per enumeration, read both ways by the same two lookups.

#include <QLatin1String>
#include <QString>

#include <cstddef>

namespace og {

template <typename E>
struct EnumWord {
    E value;
    const char* word;
};

// The word of value; the table's first word for a value it lacks.
template <typename E, std::size_t N>
QString wordOf(const EnumWord<E> (&table)[N], E value)
{
    for (const EnumWord<E>& entry : table) {
        if (entry.value == value)
            return QLatin1String(entry.word);
    }
    return QLatin1String(table[0].word);
}

// The value a word names, blanks around it and case ignored; false (and
// *value untouched) for a word the table lacks.
template <typename E, std::size_t N>
bool parseWordOf(const EnumWord<E> (&table)[N], const QString& text, E* value)
{
    for (const EnumWord<E>& entry : table) {
        if (text.trimmed().compare(QLatin1String(entry.word), Qt::CaseInsensitive) == 0) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

} // namespace og
