#include "data/import/XmlStream.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cstring>
#include <new>

namespace importing {

namespace {

struct DoctypeRefused
{
};

// The parser's shared tables are set up once, before any thread parses.
void initLibrary()
{
    static const bool done = [] {
        xmlInitParser();
        return true;
    }();
    (void)done;
}

// Errors that mean the part ended before its document did.
bool endedTooSoon(int code)
{
    switch (code) {
    case XML_ERR_DOCUMENT_EMPTY:
    case XML_ERR_TAG_NOT_FINISHED:
    case XML_ERR_LTSLASH_REQUIRED:
    case XML_ERR_GT_REQUIRED:
    case XML_ERR_ATTRIBUTE_NOT_FINISHED:
    case XML_ERR_LITERAL_NOT_FINISHED:
    case XML_ERR_COMMENT_NOT_FINISHED:
    case XML_ERR_CDATA_NOT_FINISHED:
    case XML_ERR_PI_NOT_FINISHED:
    case XML_ERR_ENTITYREF_SEMICOL_MISSING:
    case XML_ERR_INVALID_CHAR:  // a character cut in two at the end
        return true;
    default:
        return false;
    }
}

}

XmlStream::XmlStream(Handler &handler, Source source, int chunkBytes)
    : m_handler(handler), m_source(std::move(source)), m_chunkBytes(chunkBytes)
{
    initLibrary();
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &XmlStream::onStart;
    sax.endElementNs = &XmlStream::onEnd;
    sax.characters = &XmlStream::onText;
    sax.cdataBlock = &XmlStream::onText;
    sax.ignorableWhitespace = &XmlStream::onText;
    sax.internalSubset = &XmlStream::onDoctype;
    sax.serror = &XmlStream::onError;
    m_parser = xmlCreatePushParserCtxt(&sax, this, nullptr, 0, nullptr);
    if (!m_parser)
        throw std::bad_alloc();
    // Nothing is fetched from the network, and entities are never substituted.
    xmlCtxtUseOptions(m_parser, XML_PARSE_NONET);
}

XmlStream::~XmlStream()
{
    xmlFreeParserCtxt(m_parser);
}

void XmlStream::stop()
{
    m_stopped = true;
    xmlStopParser(m_parser);
}

void XmlStream::stopWith(std::exception_ptr failure)
{
    if (!m_failure)
        m_failure = std::move(failure);
    xmlStopParser(m_parser);
}

// Handlers run inside libxml2, which is C: nothing may be thrown through it.
void XmlStream::onStart(void *self, const unsigned char *name, const unsigned char *, const unsigned char *, int,
                        const unsigned char **, int attributeCount, int, const unsigned char **attributes)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (stream->m_failure || stream->m_stopped)
        return;
    try {
        stream->m_handler.startElement(reinterpret_cast<const char *>(name), Attributes(attributes, attributeCount));
    } catch (...) {
        stream->stopWith(std::current_exception());
    }
}

void XmlStream::onEnd(void *self, const unsigned char *name, const unsigned char *, const unsigned char *)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (stream->m_failure || stream->m_stopped)
        return;
    try {
        stream->m_handler.endElement(reinterpret_cast<const char *>(name));
    } catch (...) {
        stream->stopWith(std::current_exception());
    }
}

void XmlStream::onText(void *self, const unsigned char *text, int length)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (stream->m_failure || stream->m_stopped)
        return;
    try {
        stream->m_handler.characters(QByteArrayView(reinterpret_cast<const char *>(text), length));
    } catch (...) {
        stream->stopWith(std::current_exception());
    }
}

void XmlStream::onDoctype(void *self, const unsigned char *, const unsigned char *, const unsigned char *)
{
    static_cast<XmlStream *>(self)->stopWith(std::make_exception_ptr(DoctypeRefused{}));
}

void XmlStream::onError(void *self, xmlError *error)
{
    auto *stream = static_cast<XmlStream *>(self);
    if (!error || error->level < XML_ERR_FATAL || !stream->m_firstError.isEmpty())
        return;
    stream->m_firstErrorCode = error->code;
    stream->m_firstError = QStringLiteral("%1(第 %2 行第 %3 列)")
                               .arg(QString::fromUtf8(error->message ? error->message : "").trimmed())
                               .arg(error->line)
                               .arg(error->int2);
}

bool XmlStream::run()
{
    if (m_ended)
        return false;
    if (m_chunk.isEmpty())
        m_chunk.resize(m_chunkBytes);
    const qint64 n = m_source(m_chunk.data(), m_chunk.size());
    const bool last = n == 0;
    const int status = xmlParseChunk(m_parser, m_chunk.constData(), int(n), last ? 1 : 0);
    if (m_failure) {
        m_ended = true;
        const std::exception_ptr failure = m_failure;
        try {
            std::rethrow_exception(failure);
        } catch (const DoctypeRefused &) {
            throw Malformed{QStringLiteral("含有文档类型定义"), false};
        }
    }
    if (m_stopped) {
        m_ended = true;
        return false;
    }
    if (status != XML_ERR_OK || !m_firstError.isEmpty()) {
        m_ended = true;
        const int code = m_firstErrorCode ? m_firstErrorCode : status;
        // Pushed data that ends inside the root element is reported as
        // content after the document's end.
        if (last && m_parser->nameNr > 0 && (endedTooSoon(code) || code == XML_ERR_DOCUMENT_END))
            throw Malformed{QStringLiteral("内容不完整"), true};
        throw Malformed{m_firstError.isEmpty() ? QStringLiteral("格式错误(%1)").arg(code) : m_firstError, false};
    }
    m_ended = last;
    return !last;
}

}
