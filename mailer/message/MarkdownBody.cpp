#include "mailer/message/MarkdownBody.h"

#include "mailer/SendFailure.h"

#include <cmark.h>

#include <cstdlib>
#include <vector>

namespace og {

namespace {

// Raw HTML left out and dangerous links emptied: the safe rendering is the
// default where the library knows how to turn it off, and asked for where
// it does not.
#if defined(CMARK_OPT_UNSAFE)
constexpr int SafeRendering = CMARK_OPT_DEFAULT;
#else
constexpr int SafeRendering = CMARK_OPT_SAFE;
#endif
constexpr int RenderOptions = SafeRendering | CMARK_OPT_VALIDATE_UTF8;

bool insideLink(cmark_node* node)
{
    for (cmark_node* up = cmark_node_parent(node); up; up = cmark_node_parent(up))
        if (cmark_node_get_type(up) == CMARK_NODE_LINK)
            return true;
    return false;
}

// A picture would be fetched from its address when the message is opened,
// telling the sender who read it and when; a link to it is fetched only on
// a click. A picture that is already a link's text leaves its own text.
void picturesAsLinks(cmark_node* document)
{
    std::vector<cmark_node*> pictures;
    cmark_iter* iter = cmark_iter_new(document);
    for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        cmark_node* node = cmark_iter_get_node(iter);
        if (event == CMARK_EVENT_ENTER && cmark_node_get_type(node) == CMARK_NODE_IMAGE)
            pictures.push_back(node);
    }
    cmark_iter_free(iter);
    for (cmark_node* picture : pictures) {
        cmark_node* into = picture;
        if (!insideLink(picture)) {
            into = cmark_node_new(CMARK_NODE_LINK);
            cmark_node_set_url(into, cmark_node_get_url(picture));
            cmark_node_set_title(into, cmark_node_get_title(picture));
            cmark_node_insert_before(picture, into);
        }
        while (cmark_node* child = cmark_node_first_child(picture)) {
            cmark_node_unlink(child);
            if (into == picture)
                cmark_node_insert_before(picture, child);
            else
                cmark_node_append_child(into, child);
        }
        if (into != picture && !cmark_node_first_child(into)) {
            cmark_node* text = cmark_node_new(CMARK_NODE_TEXT);
            cmark_node_set_literal(text, cmark_node_get_url(picture));
            cmark_node_append_child(into, text);
        }
        cmark_node_free(picture);
    }
}

// A data: address carries its content in itself: a picture or a page that
// would open without a click on anything from elsewhere. The renderer keeps
// data: pictures; they are emptied like the scripting schemes.
void emptyDataLinks(cmark_node* document)
{
    cmark_iter* iter = cmark_iter_new(document);
    for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        cmark_node* node = cmark_iter_get_node(iter);
        const cmark_node_type type = cmark_node_get_type(node);
        if (event != CMARK_EVENT_ENTER || (type != CMARK_NODE_LINK && type != CMARK_NODE_IMAGE))
            continue;
        const char* url = cmark_node_get_url(node);
        if (url && QString::fromUtf8(url).trimmed().startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
            cmark_node_set_url(node, "");
    }
    cmark_iter_free(iter);
}

bool isSignatureSeparator(const QString& line)
{
    return line == QLatin1String("-- ") || line == QLatin1String("--");
}

} // namespace

QString markdownWithSignatureToHtml(const QString& markdown, const QStringList& signature)
{
    QStringList lines = markdown.split(u'\n');
    QStringList plain;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (isSignatureSeparator(lines[i])) {
            plain = lines.mid(i);
            lines.resize(i);
            break;
        }
    plain += signature;
    const QString body = markdownToHtml(lines.join(u'\n'));
    return plain.isEmpty() ? body : body + markdownToHtml(plainTextAsMarkdown(plain));
}

QString markdownToHtml(const QString& markdown)
{
    const QByteArray utf8 = markdown.toUtf8();
    cmark_node* document = cmark_parse_document(utf8.constData(), std::size_t(utf8.size()), RenderOptions);
    char* html = nullptr;
    if (document) {
        emptyDataLinks(document);
        picturesAsLinks(document);
        html = cmark_render_html(document, RenderOptions);
        cmark_node_free(document);
    }
    if (!html)
        throw SendFailure(QStringLiteral("The message could not be turned from Markdown into HTML (out of memory)"));
    const QString out = QString::fromUtf8(html);
    std::free(html); // the library's default allocator is malloc's
    return out;
}

QString escapeMarkdown(const QString& value)
{
    static const QString punctuation = QStringLiteral("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~");
    QString out;
    out.reserve(value.size() * 2);
    for (const QChar c : value) {
        if (punctuation.contains(c))
            out += u'\\';
        out += c;
    }
    return out;
}

QString plainTextAsMarkdown(const QStringList& lines)
{
    // Two blanks end a line with a break; an empty line ends a paragraph.
    QString out;
    for (const QString& line : lines)
        out +=
            line.trimmed().isEmpty() ? QStringLiteral("\n") : escapeMarkdown(line.trimmed()) + QStringLiteral("  \n");
    return out;
}

} // namespace og
