#include "data/query/query_parameters.h"

#include <QLocale>
#include <QRegularExpression>

namespace velario::data {

namespace {

bool startsName(QChar c) {
    return c.isLetter() || c == u'_';
}
bool continuesName(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c.isMark();
}
// A character that may stand in an unquoted identifier or keyword, `$` included as
// PostgreSQL allows it there.
bool inWord(QChar c) {
    return continuesName(c) || c == u'$';
}

// The index just past the quoted text that starts at FROM with QUOTE and ends at CLOSE, a
// doubled CLOSE standing for itself; BACKSLASH makes a backslash escape the next character.
qsizetype skipQuoted(const QString& s, qsizetype from, QChar close, bool backslash) {
    qsizetype i = from + 1;
    while (i < s.size()) {
        const QChar c = s[i];
        if (backslash && c == u'\\') {
            i += 2;
            continue;
        }
        if (c == close) {
            if (i + 1 < s.size() && s[i + 1] == close && close != u']') {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return s.size();
}

// The tag of a PostgreSQL dollar quote starting at FROM (`$$` or `$tag$`), empty when none.
QString dollarTag(const QString& s, qsizetype from) {
    qsizetype i = from + 1;
    if (i < s.size() && s[i] != u'$') {
        if (!startsName(s[i]))
            return {};
        while (i < s.size() && continuesName(s[i]))
            ++i;
    }
    if (i >= s.size() || s[i] != u'$')
        return {};
    return s.mid(from, i - from + 1);
}

qsizetype lineEnd(const QString& s, qsizetype from) {
    const qsizetype end = s.indexOf(u'\n', from);
    return end < 0 ? s.size() : end;
}

// Walks SQL past literals, quoted identifiers and comments, as every engine the program
// reaches reads them or, with MARIADB, as MariaDB does; calls NAME(start, end) for each
// `:name` and MARKER(at) for each `?` it finds outside them.
template <typename Name, typename Marker>
void scan(const QString& sql, bool mariadb, const Name& name, const Marker& marker) {
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql[i];
        const bool afterWord = i > 0 && inWord(sql[i - 1]);
        if (c == u'\'') {
            // E'...' takes backslash escapes on PostgreSQL, every literal on MariaDB.
            const bool escapes = mariadb || (i > 0 && (sql[i - 1] == u'E' || sql[i - 1] == u'e') &&
                                             !(i > 1 && inWord(sql[i - 2])));
            i = skipQuoted(sql, i, u'\'', escapes);
        } else if (c == u'"' || c == u'`') {
            i = skipQuoted(sql, i, c, mariadb && c == u'"');
        } else if (c == u'[' && !mariadb) {
            i = skipQuoted(sql, i, u']', false);
        } else if ((c == u'-' && i + 1 < n && sql[i + 1] == u'-') || (c == u'#' && mariadb)) {
            i = lineEnd(sql, i);
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == u'$' && !afterWord && !mariadb) {
            const QString tag = dollarTag(sql, i);
            if (tag.isEmpty()) {
                ++i;
            } else {
                const qsizetype end = sql.indexOf(tag, i + tag.size());
                i = end < 0 ? n : end + tag.size();
            }
        } else if (c == u':' && i + 1 < n && sql[i + 1] == u':') {
            // A cast, `value::type`: neither colon starts a name.
            i += 2;
            while (i < n && sql[i] == u':')
                ++i;
        } else if (c == u':' && i + 1 < n && startsName(sql[i + 1])) {
            qsizetype end = i + 2;
            while (end < n && continuesName(sql[end]))
                ++end;
            name(i, end);
            i = end;
        } else {
            if (c == u'?')
                marker(i);
            ++i;
        }
    }
}

} // namespace

QueryParameters findQueryParameters(const QString& sql) {
    QueryParameters found;
    found.positional.reserve(sql.size());
    qsizetype copied = 0; // SQL up to here is in POSITIONAL already
    scan(
        sql, false,
        [&](qsizetype start, qsizetype end) {
            const QString name = sql.mid(start + 1, end - start - 1);
            int slot = 0;
            while (slot < found.names.size() &&
                   found.names[slot].compare(name, Qt::CaseInsensitive) != 0)
                ++slot;
            if (slot == found.names.size())
                found.names.append(name);
            found.order.push_back(slot);
            found.positional.append(QStringView(sql).mid(copied, start - copied));
            found.positional.append(u'?');
            copied = end;
        },
        [&](qsizetype) { ++found.ownMarkers; });
    found.positional.append(QStringView(sql).mid(copied));
    return found;
}

std::vector<qsizetype> mariadbMarkers(const QString& text) {
    std::vector<qsizetype> markers;
    scan(
        text, true, [](qsizetype, qsizetype) {}, [&](qsizetype at) { markers.push_back(at); });
    return markers;
}

QString ParameterValue::canonical() const {
    switch (kind) {
    case ParameterKind::Null:
        return {};
    case ParameterKind::Integer:
        return QString::number(integer);
    case ParameterKind::Decimal:
        return decimal;
    case ParameterKind::Date:
        return date.toString(Qt::ISODate);
    case ParameterKind::Text:
        break;
    }
    return text();
}

ParameterValue parameterValue(const QString& answer, const QLocale& locale) {
    ParameterValue value;
    value.answer = answer;
    // Blanks alone are as good as nothing: the fields of the program read the same way.
    const QString text = answer.trimmed();
    if (text.isEmpty())
        return value;

    // A number with a leading zero is a code ("007"), which a number would lose: as text it
    // still compares with numbers, which every engine converts it to.
    static const QRegularExpression leadingZero(QStringLiteral("^[+-]?0[0-9]"));
    const bool code = leadingZero.match(text).hasMatch();
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!code && integer.match(text).hasMatch()) {
        bool ok = false;
        value.integer = text.toLongLong(&ok);
        if (ok) {
            value.kind = ParameterKind::Integer;
            return value;
        }
    }

    const QString point = locale.decimalPoint();
    QString number = text;
    if (point != QStringLiteral("."))
        number.replace(point, QStringLiteral("."));
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!code && decimal.match(number).hasMatch() && number.count(u'.') <= 1) {
        value.kind = ParameterKind::Decimal;
        value.decimal = number.startsWith(u'+') ? number.mid(1) : number;
        return value;
    }

    static const QRegularExpression dmy(QStringLiteral("^([0-9]{1,2})/([0-9]{1,2})/([0-9]{4})$"));
    static const QRegularExpression ymd(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})$"));
    if (const QRegularExpressionMatch m = dmy.match(text); m.hasMatch())
        value.date = QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    else if (const QRegularExpressionMatch m = ymd.match(text); m.hasMatch())
        value.date = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    value.kind = value.date.isValid() ? ParameterKind::Date : ParameterKind::Text;
    return value;
}

} // namespace velario::data
