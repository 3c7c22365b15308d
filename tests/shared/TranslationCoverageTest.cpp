// Every text that the code translates has an English entry with the same placeholders.
// The source tree is read when the test runs, so new code is checked without touching this file.
#include "shared/Localizer.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

const QString sourceDir = QString::fromUtf8(KESTRO_SOURCE_DIR);

struct Use
{
    QString key;
    QString where; // file:line
};

struct Scan
{
    QList<Use> uses;
    QStringList problems; // calls whose key cannot be read
};

qsizetype lineOf(const QString &text, qsizetype offset)
{
    return text.left(offset).count(u'\n') + 1;
}

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Decodes the body of a u"…" literal; nothing when an escape is malformed.
std::optional<QString> decodeLiteral(QStringView body)
{
    QString out;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != u'\\') {
            out += body[i];
            continue;
        }
        if (++i >= body.size())
            return std::nullopt;
        const QChar c = body[i];
        static const QMap<QChar, QChar> simple{{u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'a', u'\a'},
                                               {u'b', u'\b'}, {u'f', u'\f'}, {u'v', u'\v'}, {u'\\', u'\\'},
                                               {u'\'', u'\''}, {u'"', u'"'}, {u'?', u'?'}};
        if (simple.contains(c)) {
            out += simple.value(c);
        } else if (c >= u'0' && c <= u'7') {
            uint value = 0;
            qsizetype n = 0;
            for (; n < 3 && i + n < body.size() && body[i + n] >= u'0' && body[i + n] <= u'7'; ++n)
                value = value * 8 + (body[i + n].unicode() - u'0');
            out += QChar(char16_t(value));
            i += n - 1;
        } else if (c == u'x' || c == u'u' || c == u'U') {
            const qsizetype digits = c == u'u' ? 4 : c == u'U' ? 8 : 0;
            qsizetype n = 0;
            while (i + 1 + n < body.size() && isHex(body[i + 1 + n]) && (digits == 0 || n < digits))
                ++n;
            if (n == 0 || (digits != 0 && n != digits))
                return std::nullopt;
            const uint value = body.sliced(i + 1, n).toUInt(nullptr, 16);
            if (c == u'x')
                out += QChar(char16_t(value));
            else
                out += QString::fromUcs4(reinterpret_cast<const char32_t *>(&value), 1);
            i += n;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

Scan scanSources()
{
    Scan scan;
    static const QRegularExpression call(uR"(L10n::(?:tr|trArgs)\(\s*u")"_s);
    QDirIterator files(sourceDir + u"/src"_s, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        const QString relative = path.mid(sourceDir.size() + 1);
        for (auto match = call.globalMatch(text); match.hasNext();) {
            const QRegularExpressionMatch m = match.next();
            const qsizetype start = m.capturedEnd();
            const QString where = relative + u':' + QString::number(lineOf(text, m.capturedStart()));
            qsizetype end = start;
            while (end < text.size() && text[end] != u'"' && text[end] != u'\n')
                end += text[end] == u'\\' ? 2 : 1;
            const std::optional<QString> key = decodeLiteral(QStringView(text).sliced(start, std::min(end, text.size()) - start));
            if (end >= text.size() || text[end] != u'"' || !QStringView(text).sliced(end + 1).startsWith(u"_s") || !key) {
                scan.problems.append(where + u": the key is not one u\"…\"_s literal"_s);
                continue;
            }
            scan.uses.append({*key, where});
        }
    }
    return scan;
}

// Argument position -> kind ('s' text, 'i' integer, 'f' real) of a format's placeholders.
QMap<int, QChar> placeholders(const QString &format)
{
    static const QRegularExpression spec(
        uR"(%(?:%|(?:([1-9][0-9]*)\$)?[-+ 0#]*[0-9]*(?:\.[0-9]*)?(?:hh|ll|h|l|q|z|t|j|L)?([@sdiuxXofFeEgG]))?)"_s);
    QMap<int, QChar> result;
    int next = 1;
    for (auto match = spec.globalMatch(format); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        if (m.captured(2).isEmpty())
            continue;
        const int position = m.captured(1).isEmpty() ? next++ : m.captured(1).toInt();
        const QChar conversion = m.captured(2).at(0);
        result.insert(position, QStringView(u"@s").contains(conversion) ? u's'
                                : QStringView(u"fFeEgG").contains(conversion) ? u'f' : u'i');
    }
    return result;
}

QString describe(const QMap<int, QChar> &map)
{
    QStringList parts;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        parts.append(QString::number(it.key()) + u'=' + it.value());
    return u'{' + parts.join(u',') + u'}';
}

TEST(TranslationCoverage, EveryKeyInTheCodeHasAnEnglishText)
{
    const Scan scan = scanSources();
    EXPECT_TRUE(scan.problems.isEmpty()) << qPrintable(scan.problems.join(u'\n'));
    // Guards the scan itself: a wrong folder or pattern would find nothing and pass.
    const bool sawKnownKey = std::any_of(scan.uses.cbegin(), scan.uses.cend(), [](const Use &use) {
        return use.key == u"浏览器会话信息无效或已过期，请刷新网页后重新发送。"_s
               && use.where.startsWith(u"src/shared/BrowserSession.cpp"_s);
    });
    ASSERT_TRUE(sawKnownKey) << "the scan of " << qPrintable(sourceDir) << "/src found no known key";

    const Localizer localizer(sourceDir + u"/resources"_s);
    ASSERT_TRUE(localizer.hasBundle(u"en"_s)) << "resources/en.lproj is missing";
    QStringList missing;
    QSet<QString> reported;
    for (const Use &use : scan.uses) {
        if (!localizer.lookup(use.key, u"en"_s) && !reported.contains(use.key)) {
            reported.insert(use.key);
            missing.append(use.where + u": "_s + use.key);
        }
    }
    EXPECT_TRUE(missing.isEmpty()) << "keys without an English text in resources/en.lproj/Localizable.json:\n"
                                   << qPrintable(missing.join(u'\n'));
}

TEST(TranslationCoverage, EnglishTableIsValidAndKeepsThePlaceholders)
{
    QFile file(sourceDir + u"/resources/en.lproj/Localizable.json"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(file.fileName());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << qPrintable(error.errorString()) << " at " << error.offset;
    ASSERT_TRUE(document.isObject());

    QStringList problems;
    const QJsonObject table = document.object();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        if (!it.value().isString()) {
            problems.append(it.key() + u": the English text is not a string"_s);
            continue;
        }
        const QMap<int, QChar> expected = placeholders(it.key());
        const QMap<int, QChar> actual = placeholders(it.value().toString());
        if (expected != actual)
            problems.append(it.key() + u": placeholders "_s + describe(expected) + u" but the English text has "_s
                            + describe(actual));
    }
    EXPECT_TRUE(problems.isEmpty()) << qPrintable(problems.join(u'\n'));
}

TEST(TranslationCoverage, PlaceholderKindsAreComparedByArgument)
{
    // The check above is only as good as this reading of placeholders.
    struct Case
    {
        QString format;
        QString expected;
    } cases[] = {
        {u"退出码 %d"_s, u"{1=i}"_s},
        {u"%@ 与 %ld"_s, u"{1=s,2=i}"_s},
        {u"%2$ld %1$@"_s, u"{1=s,2=i}"_s},
        {u"100%% %.1f"_s, u"{1=f}"_s},
        {u"50% off"_s, u"{1=i}"_s}, // "% o" really is a placeholder: texts need "%%"
        {u"无占位符"_s, u"{}"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(describe(placeholders(c.format)), c.expected) << qPrintable(c.format);
}

TEST(TranslationCoverage, LiteralEscapesAreDecoded)
{
    struct Case
    {
        QString body;
        std::optional<QString> expected;
    } cases[] = {
        {uR"(他说\"好\")"_s, u"他说\"好\""_s},
        {uR"(a\\b\n)"_s, u"a\\b\n"_s},
        {uR"(\u4e0b\x41\101)"_s, u"下AA"_s},
        {uR"(\U0001F600)"_s, u"😀"_s},
        {uR"(\q)"_s, std::nullopt},
        {uR"(\u12)"_s, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decodeLiteral(c.body), c.expected) << qPrintable(c.body);
}

} // namespace
