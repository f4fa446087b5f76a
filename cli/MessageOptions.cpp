#include "cli/MessageOptions.h"

namespace og::cli {

void MessageOptions::add(ArgumentParser& parser)
{
    parser.flag(QStringLiteral("--markdown"), &markdown_);
    parser.value(QStringLiteral("--reply-to"), &replyTo_, &haveReplyTo_);
    parser.flag(QStringLiteral("--auto-submitted"), &autoSubmitted_);
    parser.values(QStringLiteral("--unsubscribe"), &unsubscribe_);
}

void MessageOptions::apply(MailerSettings& s) const
{
    if (markdown_)
        s.format = MessageFormat::Markdown;
    if (haveReplyTo_)
        s.replyTo = replyTo_;
    s.autoSubmitted = s.autoSubmitted || autoSubmitted_;
    // The addresses given replace the file's, as one choice.
    if (!unsubscribe_.isEmpty())
        s.unsubscribe = unsubscribe_.join(u' ');
}

QString MessageOptions::usage()
{
    return QStringLiteral("           [--markdown] [--reply-to ADDR] [--auto-submitted] [--unsubscribe URL]...\n");
}

QString MessageOptions::help()
{
    return QStringLiteral("  --markdown          the body is Markdown: it goes out as typed and as HTML.\n"
                          "  --reply-to ADDR     replies go to ADDR instead of the sender.\n"
                          "  --auto-submitted    mark the message as sent by a program\n"
                          "                      (Auto-Submitted: auto-generated), so vacation replies\n"
                          "                      stay away.\n"
                          "  --unsubscribe URL   a mailto: or https: address that ends the customer's\n"
                          "                      mailing (List-Unsubscribe; an https: one also allows a\n"
                          "                      one-click unsubscribe). Repeatable.\n");
}

} // namespace og::cli
