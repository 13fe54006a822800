#pragma once
// A streaming parse of one large XML part with expat: the bytes come from a
// source in chunks, the elements and texts go to a handler as they are met,
// and a handler may pause the parse (after a worksheet's row, say) so that
// the caller takes one piece at a time with memory flat in the part's size.
// A document type declaration is refused, so no entity can expand.
#include <QByteArrayView>
#include <QString>
#include <exception>
#include <functional>

struct XML_ParserStruct;

namespace importing {

class XmlStream
{
public:
    // Names are local names (the prefix dropped); attributes come as expat gives
    // them: name, value, name, value, ..., null. An exception thrown by a
    // handler stops the parse and leaves run() unchanged.
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void startElement(QByteArrayView name, const char **attributes) = 0;
        virtual void endElement(QByteArrayView name) = 0;
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

    // Parses on until a handler pauses (true) or the part ends (false).
    // Throws Malformed, or what a handler or the source threw.
    bool run();
    // From a handler: run() returns true once this event is handled.
    void pause();

    // The value of an attribute by its name as written (no prefix); null when absent.
    static const char *attribute(const char **attributes, const char *name);

private:
    static void onStart(void *self, const char *name, const char **attributes);
    static void onEnd(void *self, const char *name);
    static void onText(void *self, const char *text, int length);
    static void onDoctype(void *self, const char *, const char *, const char *, int);
    void stopWith(std::exception_ptr failure);
    bool settle(int status);

    Handler &m_handler;
    Source m_source;
    int m_chunkBytes;
    XML_ParserStruct *m_parser = nullptr;
    std::exception_ptr m_failure;
    bool m_suspended = false;
    bool m_finalFed = false;
    bool m_ended = false;
};

}
