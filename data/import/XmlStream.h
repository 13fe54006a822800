#pragma once
// A streaming parse of one large XML part with libxml2's SAX parser: the
// bytes come from a source in chunks, and the elements and texts of each chunk
// go to a handler as they are met, so that the caller takes the part a piece
// at a time with memory flat in the part's size. A document type declaration
// is refused, so no entity can expand.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <exception>
#include <functional>

struct _xmlParserCtxt;
struct _xmlError;

namespace importing {

class XmlStream
{
public:
    // An element's attributes: local names (the prefix dropped) and values.
    class Attributes
    {
    public:
        Attributes(const unsigned char **attributes, int count) : m_attributes(attributes), m_count(count) {}
        int size() const { return m_count; }
        const char *name(int i) const { return reinterpret_cast<const char *>(m_attributes[5 * i]); }
        QByteArrayView value(int i) const
        {
            const unsigned char *const *a = m_attributes + 5 * i;
            return QByteArrayView(reinterpret_cast<const char *>(a[3]), a[4] - a[3]);
        }

    private:
        const unsigned char **m_attributes;  // local name, prefix, URI, value, value end; per attribute
        int m_count;
    };

    // Names are local names (the prefix dropped). An exception thrown by a
    // handler stops the parse and leaves run() unchanged.
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void startElement(const char *name, const Attributes &attributes) = 0;
        virtual void endElement(const char *name) = 0;
        virtual void characters(QByteArrayView text) = 0;
    };
    // Fills up to size bytes; 0 at the end of the part.
    using Source = std::function<qint64(char *buffer, qint64 size)>;

    // The part is not well-formed; truncated says it ended too soon.
    struct Malformed
    {
        QString detail;
        bool truncated = false;
    };

    XmlStream(Handler &handler, Source source, int chunkBytes = 256 * 1024);
    ~XmlStream();
    XmlStream(const XmlStream &) = delete;
    XmlStream &operator=(const XmlStream &) = delete;

    // Parses the next chunk of the part: true while more follows, false once
    // the part has ended or a handler stopped the parse. Throws Malformed, or
    // what a handler or the source threw.
    bool run();
    // From a handler: the rest of the part is not read.
    void stop();

private:
    static void onStart(void *self, const unsigned char *name, const unsigned char *, const unsigned char *, int,
                        const unsigned char **, int attributeCount, int, const unsigned char **attributes);
    static void onEnd(void *self, const unsigned char *name, const unsigned char *, const unsigned char *);
    static void onText(void *self, const unsigned char *text, int length);
    static void onDoctype(void *self, const unsigned char *, const unsigned char *, const unsigned char *);
    static void onError(void *self, ::_xmlError *error);
    void stopWith(std::exception_ptr failure);

    Handler &m_handler;
    Source m_source;
    int m_chunkBytes;
    QByteArray m_chunk;
    _xmlParserCtxt *m_parser = nullptr;
    std::exception_ptr m_failure;
    QString m_firstError;
    int m_firstErrorCode = 0;
    bool m_stopped = false;
    bool m_ended = false;
};

}
