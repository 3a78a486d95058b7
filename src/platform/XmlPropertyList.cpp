#include "platform/XmlPropertyList.h"

#include "platform/BinaryPlistCheck.h"
#include "platform/PropertyList.h"

#include <QDateTime>
#include <QTimeZone>
#include <QVariantList>
#include <QVariantMap>
#include <QXmlStreamReader>

#include <cstdint>
#include <vector>

namespace kivo::platform {

namespace {

// One open <array> or <dict>; a dictionary remembers the key waiting for its value.
struct Open {
    bool isDict = false;
    QVariantList list;
    QVariantMap map;
    std::optional<QString> pendingKey;
};

std::optional<QVariant> scalar(const QStringView tag, const QString& text)
{
    if (tag == u"string")
        return QVariant(text);
    if (tag == u"integer") {
        bool ok = false;
        const QString t = text.trimmed();
        qint64 v = t.toLongLong(&ok);
        if (!ok) {
            // Values above the signed range arrive as their unsigned form.
            const quint64 u = t.toULongLong(&ok);
            v = qint64(u);
        }
        return ok ? std::optional(QVariant(v)) : std::nullopt;
    }
    if (tag == u"real") {
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        return ok ? std::optional(QVariant(v)) : std::nullopt;
    }
    if (tag == u"data") {
        QByteArray ascii;
        ascii.reserve(text.size());
        for (QChar c : text)
            if (!c.isSpace())
                ascii.append(char(c.unicode() < 128 ? c.unicode() : '!'));
        auto decoded = QByteArray::fromBase64Encoding(ascii, QByteArray::AbortOnBase64DecodingErrors);
        return decoded ? std::optional(QVariant(*decoded)) : std::nullopt;
    }
    if (tag == u"date") {
        const QDateTime when = QDateTime::fromString(text.trimmed(), Qt::ISODate);
        if (!when.isValid())
            return std::nullopt;
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        return QVariant(double(reference.msecsTo(when)) / 1000.0);
    }
    return std::nullopt;
}

} // namespace

std::optional<QVariant> decodeXmlPlist(const QByteArray& bytes)
{
    if (bytes.size() > qsizetype(kMaxPlistBytes))
        return std::nullopt;
    QXmlStreamReader xml(bytes);
    std::vector<Open> stack;
    std::optional<QVariant> root;
    bool inPlist = false;
    std::uint64_t objects = 0;

    // Places a finished value in its container, or makes it the root.
    const auto place = [&](QVariant value) -> bool {
        if (++objects > kMaxPlistObjects)
            return false;
        if (stack.empty()) {
            if (root || !inPlist)
                return false;
            root = std::move(value);
            return true;
        }
        Open& top = stack.back();
        if (!top.isDict) {
            top.list.append(std::move(value));
            return true;
        }
        if (!top.pendingKey)
            return false;
        top.map.insert(*top.pendingKey, std::move(value));
        top.pendingKey.reset();
        return true;
    };

    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::Comment
            || token == QXmlStreamReader::StartDocument || token == QXmlStreamReader::EndDocument
            || token == QXmlStreamReader::ProcessingInstruction)
            continue;
        if (token == QXmlStreamReader::Characters) {
            if (!xml.isWhitespace())
                return std::nullopt;
            continue;
        }
        if (token == QXmlStreamReader::EntityReference)
            return std::nullopt;
        if (token == QXmlStreamReader::EndElement) {
            const QStringView tag = xml.name();
            if (tag == u"plist") {
                inPlist = false;
                continue;
            }
            if (stack.empty())
                return std::nullopt;
            Open done = std::move(stack.back());
            stack.pop_back();
            if (done.isDict && done.pendingKey)
                return std::nullopt;
            if (!place(done.isDict ? QVariant(done.map) : QVariant(done.list)))
                return std::nullopt;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            return std::nullopt;
        const QStringView tag = xml.name();
        if (tag == u"plist") {
            if (inPlist || root)
                return std::nullopt;
            inPlist = true;
            continue;
        }
        if (!inPlist)
            return std::nullopt;
        if (tag == u"array" || tag == u"dict") {
            if (int(stack.size()) >= kMaxPlistDepth)
                return std::nullopt;
            Open open;
            open.isDict = tag == u"dict";
            stack.push_back(std::move(open));
            continue;
        }
        if (tag == u"true" || tag == u"false") {
            const bool value = tag == u"true";
            xml.readNext();
            if (!xml.isEndElement() || !place(QVariant(value)))
                return std::nullopt;
            continue;
        }
        const QString tagName = tag.toString();
        const QString text = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (xml.hasError())
            return std::nullopt;
        if (tagName == u"key") {
            if (stack.empty() || !stack.back().isDict || stack.back().pendingKey)
                return std::nullopt;
            stack.back().pendingKey = text;
            continue;
        }
        auto value = scalar(tagName, text);
        if (!value || !place(std::move(*value)))
            return std::nullopt;
    }
    if (xml.hasError() || !stack.empty() || inPlist)
        return std::nullopt;
    return root;
}

std::optional<QVariant> decodeAnyPlist(const QByteArray& bytes)
{
    if (bytes.startsWith("bplist"))
        return decodeBinaryPlist(bytes);
    return decodeXmlPlist(bytes);
}

} // namespace kivo::platform
