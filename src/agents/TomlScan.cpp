#include "TomlScan.h"

#include <QRegularExpression>

#include <map>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// What a key names: a table (from a header or dotted keys), an array of tables, or a value
// (inline tables and static arrays included, which can never be extended).
struct Node
{
    enum class Kind { table, arrayOfTables, value };

    explicit Node(Kind k) : kind(k) {}

    Kind kind;
    // Declared by a header, or by dotted keys of an earlier section: no header may name it.
    bool declared = false;
    std::map<QString, std::unique_ptr<Node>> children;
    std::vector<std::unique_ptr<Node>> elements;
};

class Parser
{
public:
    explicit Parser(QStringView text) : m_text(text) {}

    std::optional<QList<TomlScan::Header>> document()
    {
        Node root(Node::Kind::table);
        Node *current = &root;
        QList<TomlScan::Header> headers;
        qsizetype lineStart = 0;
        for (;;) {
            skipBlanks();
            if (atEnd())
                return headers;
            const QChar c = peek();
            if (c == u'\n' || c == u'\r') {
                if (!newline())
                    return std::nullopt;
                lineStart = m_pos;
                continue;
            }
            if (c == u'#') {
                if (!comment())
                    return std::nullopt;
                continue;
            }
            if (c == u'[') {
                TomlScan::Header header;
                header.lineStart = lineStart;
                current = tableHeader(root, header);
                if (!current)
                    return std::nullopt;
                headers.append(header);
            } else if (!keyValue(*current, true)) {
                return std::nullopt;
            }
            // A statement ends its line.
            skipBlanks();
            if (!atEnd() && peek() == u'#' && !comment())
                return std::nullopt;
            if (!atEnd() && !newline())
                return std::nullopt;
            lineStart = m_pos;
        }
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek(qsizetype ahead = 0) const
    {
        return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : QChar();
    }
    bool startsWith(QStringView what) const { return m_text.sliced(m_pos).startsWith(what); }

    // Tab is the only control character TOML allows in comments and strings.
    static bool isControl(QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; }

    void skipBlanks()
    {
        while (!atEnd() && (peek() == u' ' || peek() == u'\t'))
            ++m_pos;
    }

    bool newline()
    {
        if (peek() == u'\n') {
            ++m_pos;
            return true;
        }
        if (peek() == u'\r' && peek(1) == u'\n') {
            m_pos += 2;
            return true;
        }
        return false;
    }

    bool comment()
    {
        ++m_pos;
        while (!atEnd() && peek() != u'\n') {
            if (peek() == u'\r' && peek(1) == u'\n')
                return true;
            if (isControl(peek()))
                return false;
            ++m_pos;
        }
        return true;
    }

    // Blanks, comments and line breaks, as arrays allow between their values.
    bool skipSpaceInArray()
    {
        for (;;) {
            skipBlanks();
            if (atEnd())
                return true;
            if (peek() == u'#') {
                if (!comment())
                    return false;
            } else if (peek() == u'\n' || peek() == u'\r') {
                if (!newline())
                    return false;
            } else {
                return true;
            }
        }
    }

    static bool isBare(QChar c)
    {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_'
               || c == u'-';
    }

    bool hexDigits(int count, char32_t &value)
    {
        value = 0;
        for (int i = 0; i < count; ++i) {
            const int digit = hexValue(peek());
            if (digit < 0)
                return false;
            value = value * 16 + char32_t(digit);
            ++m_pos;
        }
        return true;
    }

    static int hexValue(QChar c)
    {
        if (c >= u'0' && c <= u'9')
            return c.unicode() - u'0';
        if (c >= u'a' && c <= u'f')
            return c.unicode() - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c.unicode() - u'A' + 10;
        return -1;
    }

    // After a backslash of a basic string.
    bool escape(QString &out)
    {
        const QChar c = peek();
        ++m_pos;
        switch (c.unicode()) {
        case u'b': out += u'\b'; return true;
        case u't': out += u'\t'; return true;
        case u'n': out += u'\n'; return true;
        case u'f': out += u'\f'; return true;
        case u'r': out += u'\r'; return true;
        case u'"': out += u'"'; return true;
        case u'\\': out += u'\\'; return true;
        case u'u':
        case u'U': {
            char32_t value;
            if (!hexDigits(c == u'u' ? 4 : 8, value) || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
                return false;
            out += QString::fromUcs4(&value, 1);
            return true;
        }
        default:
            return false;
        }
    }

    // A string of any of the four kinds, at its opening quote.
    bool string(QString &out, bool allowMultiline)
    {
        const QChar quote = peek();
        const bool basic = quote == u'"';
        const QString triple = QString(3, quote);
        if (startsWith(triple)) {
            if (!allowMultiline)
                return false;
            m_pos += 3;
            // A line break right after the opening quotes is not part of the string.
            newline();
            for (;;) {
                if (atEnd())
                    return false;
                if (startsWith(triple)) {
                    // Up to two quotes may stand right before the closing three.
                    qsizetype run = 0;
                    while (peek(run) == quote)
                        ++run;
                    if (run > 5)
                        return false;
                    out += QString(run - 3, quote);
                    m_pos += run;
                    return true;
                }
                const QChar c = peek();
                if (c == u'\n' || c == u'\r') {
                    if (!newline())
                        return false;
                    out += u'\n';
                } else if (basic && c == u'\\') {
                    ++m_pos;
                    // A backslash at the end of a line joins it with the next text.
                    qsizetype probe = m_pos;
                    while (probe < m_text.size() && (m_text[probe] == u' ' || m_text[probe] == u'\t'))
                        ++probe;
                    if (probe < m_text.size() && (m_text[probe] == u'\n' || m_text[probe] == u'\r')) {
                        m_pos = probe;
                        while (!atEnd()) {
                            if (peek() == u' ' || peek() == u'\t' || peek() == u'\n')
                                ++m_pos;
                            else if (peek() != u'\r')
                                break;
                            else if (!newline())
                                return false;
                        }
                    } else if (!escape(out)) {
                        return false;
                    }
                } else if (isControl(c)) {
                    return false;
                } else {
                    out += c;
                    ++m_pos;
                }
            }
        }
        ++m_pos;
        for (;;) {
            if (atEnd())
                return false;
            const QChar c = peek();
            if (c == quote) {
                ++m_pos;
                return true;
            }
            if (basic && c == u'\\') {
                ++m_pos;
                if (!escape(out))
                    return false;
            } else if (isControl(c)) {
                return false;
            } else {
                out += c;
                ++m_pos;
            }
        }
    }

    bool key(QStringList &path)
    {
        for (;;) {
            skipBlanks();
            QString part;
            if (peek() == u'"' || peek() == u'\'') {
                if (!string(part, false))
                    return false;
            } else {
                const qsizetype start = m_pos;
                while (!atEnd() && isBare(peek()))
                    ++m_pos;
                if (m_pos == start)
                    return false;
                part = m_text.sliced(start, m_pos - start).toString();
            }
            path.append(part);
            skipBlanks();
            if (peek() != u'.')
                return true;
            ++m_pos;
        }
    }

    // Numbers, booleans, dates and times: checked by their shape alone.
    bool scalar()
    {
        static const QRegularExpression shape(QRegularExpression::anchoredPattern(
            uR"(true|false|[+-]?(inf|nan)|)"
            uR"([+-]?(0|[1-9](_?[0-9])*)(\.[0-9](_?[0-9])*)?([eE][+-]?[0-9](_?[0-9])*)?|)"
            uR"(0x[0-9A-Fa-f](_?[0-9A-Fa-f])*|0o[0-7](_?[0-7])*|0b[01](_?[01])*|)"
            uR"([0-9]{4}-[0-9]{2}-[0-9]{2}([Tt ][0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?([Zz]|[+-][0-9]{2}:[0-9]{2})?)?|)"
            uR"([0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?)"_s));
        static const QRegularExpression date(uR"(^[0-9]{4}-[0-9]{2}-[0-9]{2}$)"_s);
        const auto tokenEnd = [this](qsizetype from) {
            while (from < m_text.size()) {
                const QChar c = m_text[from];
                if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u',' || c == u']' || c == u'}'
                    || c == u'#')
                    break;
                ++from;
            }
            return from;
        };
        qsizetype end = tokenEnd(m_pos);
        // A date and a time may be parted by one space.
        if (date.match(m_text.sliced(m_pos, end - m_pos)).hasMatch() && end + 1 < m_text.size()
            && m_text[end] == u' ' && m_text[end + 1].isDigit())
            end = tokenEnd(end + 1);
        if (end == m_pos || !shape.match(m_text.sliced(m_pos, end - m_pos)).hasMatch())
            return false;
        m_pos = end;
        return true;
    }

    bool value(int depth)
    {
        // Nesting deep enough to exhaust the stack is no configuration anybody wrote.
        if (depth > 64 || atEnd())
            return false;
        const QChar c = peek();
        if (c == u'"' || c == u'\'') {
            QString ignored;
            return string(ignored, true);
        }
        if (c == u'[') {
            ++m_pos;
            for (;;) {
                if (!skipSpaceInArray())
                    return false;
                if (peek() == u']') {
                    ++m_pos;
                    return true;
                }
                if (!value(depth + 1) || !skipSpaceInArray())
                    return false;
                if (peek() == u',') {
                    ++m_pos;
                    continue;
                }
                if (peek() != u']')
                    return false;
                ++m_pos;
                return true;
            }
        }
        if (c == u'{') {
            ++m_pos;
            Node table(Node::Kind::table);
            skipBlanks();
            if (peek() == u'}') {
                ++m_pos;
                return true;
            }
            for (;;) {
                if (!keyValue(table, false, depth + 1))
                    return false;
                skipBlanks();
                if (peek() == u'}') {
                    ++m_pos;
                    return true;
                }
                if (peek() != u',')
                    return false;
                ++m_pos;
            }
        }
        return scalar();
    }

    // key = value into `table`. Dotted keys make tables on the way; in a section (not inside
    // an inline table) those may not reach a table that a header or an earlier section made.
    bool keyValue(Node &table, bool section, int depth = 0)
    {
        QStringList path;
        if (!key(path))
            return false;
        skipBlanks();
        if (peek() != u'=')
            return false;
        ++m_pos;
        skipBlanks();
        if (!value(depth))
            return false;

        Node *node = &table;
        for (qsizetype i = 0; i + 1 < path.size(); ++i) {
            std::unique_ptr<Node> &child = node->children[path[i]];
            if (!child)
                child = std::make_unique<Node>(Node::Kind::table);
            else if (child->kind != Node::Kind::table || (section && child->declared))
                return false;
            if (section)
                m_pending.push_back(child.get());
            node = child.get();
        }
        std::unique_ptr<Node> &leaf = node->children[path.last()];
        if (leaf)
            return false;
        leaf = std::make_unique<Node>(Node::Kind::value);
        return true;
    }

    // [a.b] or [[a.b]]; the table that the following keys go to, or null.
    Node *tableHeader(Node &root, TomlScan::Header &header)
    {
        ++m_pos;
        header.arrayOfTables = peek() == u'[';
        if (header.arrayOfTables)
            ++m_pos;
        if (!key(header.path))
            return nullptr;
        if (peek() != u']' || (header.arrayOfTables && peek(1) != u']'))
            return nullptr;
        m_pos += header.arrayOfTables ? 2 : 1;

        // Tables that dotted keys made in the section now ending are closed to headers.
        for (Node *pending : m_pending)
            pending->declared = true;
        m_pending.clear();

        Node *node = &root;
        for (qsizetype i = 0; i + 1 < header.path.size(); ++i) {
            std::unique_ptr<Node> &child = node->children[header.path[i]];
            if (!child)
                child = std::make_unique<Node>(Node::Kind::table);
            if (child->kind == Node::Kind::arrayOfTables)
                node = child->elements.back().get();
            else if (child->kind == Node::Kind::table)
                node = child.get();
            else
                return nullptr;
        }
        std::unique_ptr<Node> &last = node->children[header.path.last()];
        if (header.arrayOfTables) {
            if (!last)
                last = std::make_unique<Node>(Node::Kind::arrayOfTables);
            else if (last->kind != Node::Kind::arrayOfTables)
                return nullptr;
            last->elements.push_back(std::make_unique<Node>(Node::Kind::table));
            return last->elements.back().get();
        }
        if (!last)
            last = std::make_unique<Node>(Node::Kind::table);
        else if (last->kind != Node::Kind::table || last->declared)
            return nullptr;
        last->declared = true;
        return last.get();
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    std::vector<Node *> m_pending;
};

} // namespace

std::optional<QList<TomlScan::Header>> TomlScan::headers(QStringView text)
{
    return Parser(text).document();
}
