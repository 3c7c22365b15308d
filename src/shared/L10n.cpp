#include "L10n.h"

#include "platform/Bundle.h"
#include "platform/Preferences.h"
#include "shared/Localizer.h"

#include <algorithm>
#include <cmath>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const Localizer &shared()
{
    // Loaded once per process; new languages or tables take effect at the next start.
    static const Localizer localizer([] {
        const Bundle bundle = Bundle::main();
        return bundle.isValid() ? bundle.resources() : QString();
    }());
    return localizer;
}

// One placeholder of a format: %[n$][flags][width][.precision][length]conversion.
struct Spec
{
    qsizetype position = 0; // 1-based; 0 takes the next argument
    bool leftAlign = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool zeroPad = false;
    bool alternate = false;
    qsizetype width = 0;
    std::optional<qsizetype> precision;
    char16_t conversion = 0;
};

constexpr qsizetype maxNumber = 100000; // larger widths or positions are nonsense, not work to do

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

qsizetype readNumber(const QString &text, qsizetype &pos)
{
    qsizetype value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        value = std::min(maxNumber, value * 10 + (text[pos].unicode() - u'0'));
        ++pos;
    }
    return value;
}

// Parses the placeholder that starts at text[start] == '%'; nothing for an unknown or cut-off one.
std::optional<Spec> parseSpec(const QString &text, qsizetype start, qsizetype &end)
{
    Spec spec;
    qsizetype pos = start + 1;
    const qsizetype size = text.size();
    if (pos < size && text[pos] == u'%') {
        spec.conversion = u'%';
        end = pos + 1;
        return spec;
    }
    if (pos < size && isDigit(text[pos]) && text[pos] != u'0') {
        qsizetype probe = pos;
        const qsizetype number = readNumber(text, probe);
        if (probe < size && text[probe] == u'$') {
            spec.position = number;
            pos = probe + 1;
        }
    }
    for (; pos < size; ++pos) {
        const QChar c = text[pos];
        if (c == u'-')
            spec.leftAlign = true;
        else if (c == u'+')
            spec.plusSign = true;
        else if (c == u' ')
            spec.spaceSign = true;
        else if (c == u'0')
            spec.zeroPad = true;
        else if (c == u'#')
            spec.alternate = true;
        else
            break;
    }
    spec.width = readNumber(text, pos);
    if (pos < size && text[pos] == u'.') {
        ++pos;
        spec.precision = readNumber(text, pos);
    }
    for (const QStringView length : {u"hh", u"ll", u"h", u"l", u"q", u"z", u"t", u"j", u"L"}) {
        if (QStringView(text).sliced(pos).startsWith(length)) {
            pos += length.size();
            break;
        }
    }
    if (pos >= size || !QStringView(u"@sdiuxXofFeEgG").contains(text[pos]))
        return std::nullopt;
    spec.conversion = text[pos].unicode();
    end = pos + 1;
    return spec;
}

QString signPrefix(bool negative, const Spec &spec)
{
    if (negative)
        return u"-"_s;
    if (spec.plusSign)
        return u"+"_s;
    if (spec.spaceSign)
        return u" "_s;
    return QString();
}

// Pads to the width; zeros go between the sign (or base prefix) and the digits.
QString pad(const QString &prefix, const QString &body, const Spec &spec, bool numeric, const QString &zero)
{
    const qsizetype missing = spec.width - prefix.size() - body.size();
    if (missing <= 0)
        return prefix + body;
    if (spec.leftAlign)
        return prefix + body + QString(missing, u' ');
    if (spec.zeroPad && numeric)
        return prefix + zero.repeated(missing) + body;
    return QString(missing, u' ') + prefix + body;
}

QString renderInteger(const Spec &spec, const QVariant &arg)
{
    QString prefix;
    QString digits;
    switch (spec.conversion) {
    case u'd':
    case u'i': {
        const qint64 value = arg.toLongLong();
        digits = QString::number(value);
        if (value < 0)
            digits.remove(0, 1);
        prefix = signPrefix(value < 0, spec);
        break;
    }
    case u'u':
        digits = QString::number(arg.toULongLong());
        break;
    case u'x':
    case u'X': {
        const quint64 value = arg.toULongLong();
        digits = QString::number(value, 16);
        if (spec.conversion == u'X')
            digits = digits.toUpper();
        if (spec.alternate && value != 0)
            prefix = spec.conversion == u'X' ? u"0X"_s : u"0x"_s;
        break;
    }
    case u'o':
        digits = QString::number(arg.toULongLong(), 8);
        if (spec.alternate && !digits.startsWith(u'0'))
            digits.prepend(u'0');
        break;
    }
    // As in printf: a precision is the least number of digits and turns off zero padding.
    if (spec.precision) {
        if (*spec.precision == 0 && digits == u"0"_s)
            digits.clear();
        if (digits.size() < *spec.precision)
            digits.prepend(QString(*spec.precision - digits.size(), u'0'));
    }
    return pad(prefix, digits, spec, !spec.precision, u"0"_s);
}

QString renderReal(const Spec &spec, const QVariant &arg, const QLocale &locale)
{
    const double value = arg.toDouble();
    char format = 'f';
    switch (spec.conversion) {
    case u'e': format = 'e'; break;
    case u'E': format = 'E'; break;
    case u'g': format = 'g'; break;
    case u'G': format = 'G'; break;
    default: break;
    }
    QLocale numbers = locale;
    QLocale::NumberOptions options = locale.numberOptions() | QLocale::OmitGroupSeparator;
    if (spec.alternate)
        options |= QLocale::IncludeTrailingZeroesAfterDot;
    numbers.setNumberOptions(options);
    QString text = numbers.toString(value, format, int(spec.precision.value_or(6)));
    // Some locales write the exponent with their own symbol ("E" in English); printf's case rule wins.
    if (format != 'f')
        text.replace(numbers.exponential(), format == 'E' || format == 'G' ? u"E"_s : u"e"_s);
    if (!std::isfinite(value))
        return pad(QString(), text, spec, false, QString());
    const QString minus = numbers.negativeSign();
    const bool negative = text.startsWith(minus);
    if (negative)
        text.remove(0, minus.size());
    QString prefix = negative ? minus : signPrefix(false, spec);
    if (prefix == u"+"_s)
        prefix = numbers.positiveSign();
    return pad(prefix, text, spec, true, numbers.zeroDigit());
}

QString render(const Spec &spec, const QVariant &arg, const QLocale &locale)
{
    switch (spec.conversion) {
    case u'@':
    case u's': {
        QString text = arg.toString();
        if (spec.precision)
            text.truncate(*spec.precision);
        return pad(QString(), text, spec, false, QString());
    }
    case u'f':
    case u'F':
    case u'e':
    case u'E':
    case u'g':
    case u'G':
        return renderReal(spec, arg, locale);
    default:
        return renderInteger(spec, arg);
    }
}

} // namespace

namespace L10n {

QString tr(const QString &key)
{
    return shared().tr(key, language());
}

QString trArgs(const QString &key, const QVariantList &args)
{
    return shared().tr(key, args, language());
}

QList<AppLanguage> languages()
{
    return shared().languages();
}

QString language()
{
    // Read on every call: a change of the preference applies to the next text at once.
    return shared().resolve(Preferences().string(u"uiLanguage"_s).value_or(QString()));
}

QLocale locale()
{
    return Localizer::localeFor(language());
}

QString format(const QString &format, const QVariantList &args, const QLocale &locale)
{
    QString result;
    result.reserve(format.size() + 16 * args.size());
    qsizetype nextArgument = 0;
    qsizetype pos = 0;
    while (pos < format.size()) {
        const qsizetype percent = format.indexOf(u'%', pos);
        if (percent < 0) {
            result += QStringView(format).sliced(pos);
            break;
        }
        result += QStringView(format).sliced(pos, percent - pos);
        qsizetype end = percent + 1;
        const std::optional<Spec> spec = parseSpec(format, percent, end);
        if (!spec) {
            // Not a placeholder: the '%' stays and the rest is read as plain text.
            result += u'%';
            pos = percent + 1;
            continue;
        }
        pos = end;
        if (spec->conversion == u'%') {
            result += u'%';
            continue;
        }
        const qsizetype index = spec->position > 0 ? spec->position - 1 : nextArgument++;
        if (index < args.size())
            result += render(*spec, args.at(index), locale);
    }
    return result;
}

} // namespace L10n
