#include "data/import/XmlStream.h"

#include <expat.h>
#include <cstring>

namespace importing {

namespace {

// An element's name without its prefix ("x:row" is "row"). Namespaces are
// not resolved: the parts hold one vocabulary each, and resolving them costs
// a third of the parse.
QByteArrayView localName(const char *name)
{
    const char *local = name;
    for (const char *c = name; *c; ++c)
        if (*c == ':')
            local = c + 1;
    return QByteArrayView(local);
}

struct DoctypeRefused
{
};

}

XmlStream::XmlStream(Handler &handler, Source source, int chunkBytes)
    : m_handler(handler), m_source(std::move(source)), m_chunkBytes(chunkBytes)
{
    m_parser = XML_ParserCreate(nullptr);
    if (!m_parser)
        throw std::bad_alloc();
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlStream::onStart, &XmlStream::onEnd);
    XML_SetCharacterDataHandler(m_parser, &XmlStream::onText);
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlStream::onDoctype);
}

XmlStream::~XmlStream()
{
    XML_ParserFree(m_parser);
}

const char *XmlStream::attribute(const char **attributes, const char *name)
{
    for (const char **a = attributes; *a; a += 2)
        if (std::strcmp(*a, name) == 0)
            return a[1];
    return nullptr;
}

void XmlStream::pause()
{
    XML_StopParser(m_parser, XML_TRUE);
}

void XmlStream::stopWith(std::exception_ptr failure)
{
    if (!m_failure)
        m_failure = std::move(failure);
    XML_ParsingStatus status;
    XML_GetParsingStatus(m_parser, &status);
    if (status.parsing == XML_PARSING)
        XML_StopParser(m_parser, XML_FALSE);
}

// Handlers run inside expat, which is C: nothing may be thrown through it.
void XmlStream::onStart(void *self, const char *name, const char **attributes)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (stream->m_failure)
        return;
    try {
        stream->m_handler.startElement(localName(name), attributes);
    } catch (...) {
        stream->stopWith(std::current_exception());
    }
}

void XmlStream::onEnd(void *self, const char *name)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (stream->m_failure)
        return;
    try {
        stream->m_handler.endElement(localName(name));
    } catch (...) {
        stream->stopWith(std::current_exception());
    }
}

void XmlStream::onText(void *self, const char *text, int length)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (stream->m_failure)
        return;
    try {
        stream->m_handler.characters(QByteArrayView(text, length));
    } catch (...) {
        stream->stopWith(std::current_exception());
    }
}

void XmlStream::onDoctype(void *self, const char *, const char *, const char *, int)
{
    static_cast<XmlStream *>(self)->stopWith(std::make_exception_ptr(DoctypeRefused{}));
}

// What one call into expat came to: paused (true), more to feed (false), or a failure.
bool XmlStream::settle(int status)
{
    if (m_failure) {
        m_ended = true;
        const std::exception_ptr failure = m_failure;
        try {
            std::rethrow_exception(failure);
        } catch (const DoctypeRefused &) {
            throw Malformed{QStringLiteral("含有文档类型定义"), false};
        }
    }
    switch (status) {
    case XML_STATUS_SUSPENDED:
        m_suspended = true;
        return true;
    case XML_STATUS_OK:
        if (m_finalFed)
            m_ended = true;
        return false;
    default:
        break;
    }
    m_ended = true;
    const XML_Error code = XML_GetErrorCode(m_parser);
    const bool truncated = m_finalFed
                           && (code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN
                               || code == XML_ERROR_PARTIAL_CHAR || code == XML_ERROR_UNCLOSED_CDATA_SECTION);
    if (truncated)
        throw Malformed{QStringLiteral("内容不完整"), true};
    throw Malformed{QStringLiteral("%1(第 %2 行第 %3 列)")
                        .arg(QString::fromUtf8(XML_ErrorString(code)))
                        .arg(XML_GetCurrentLineNumber(m_parser))
                        .arg(XML_GetCurrentColumnNumber(m_parser)),
                    false};
}

bool XmlStream::run()
{
    while (!m_ended) {
        if (m_suspended) {
            m_suspended = false;
            if (settle(XML_ResumeParser(m_parser)))
                return true;
            continue;
        }
        void *buffer = XML_GetBuffer(m_parser, m_chunkBytes);
        if (!buffer)
            throw std::bad_alloc();
        const qint64 n = m_source(static_cast<char *>(buffer), m_chunkBytes);
        m_finalFed = n == 0;
        if (settle(XML_ParseBuffer(m_parser, int(n), m_finalFed)))
            return true;
    }
    return false;
}

}
