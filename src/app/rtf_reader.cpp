#include "app/rtf_reader.h"

#include <QColor>
#include <QList>

#include <array>
#include <cctype>
#include <cstdint>
#include <vector>

namespace korvan::app {
namespace {

// Paragraphs without the extra spacing HTML adds: the text's own empty paragraphs space it.
const QString kParagraph = QStringLiteral("<p style=\"margin:0\">");

// Characters 0x80..0x9F of code page 1252, and the letters in which code page 1250 differs
// from Latin-1 that Croatian text uses.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char16_t decodeByte(uint8_t byte, int codePage) {
    if (codePage == 1250) {
        switch (byte) {
            case 0x8A:
                return 0x0160;  // S caron
            case 0x9A:
                return 0x0161;
            case 0x8E:
                return 0x017D;  // Z caron
            case 0x9E:
                return 0x017E;
            case 0xC8:
                return 0x010C;  // C caron
            case 0xE8:
                return 0x010D;
            case 0xC6:
                return 0x0106;  // C acute
            case 0xE6:
                return 0x0107;
            case 0xD0:
                return 0x0110;  // D stroke
            case 0xF0:
                return 0x0111;
            default:
                break;
        }
    }
    if (byte >= 0x80 && byte < 0xA0) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

struct Format {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 24;
    int colour = 0;
    bool skip = false;  // inside a destination that shows nothing
    bool colourTable = false;
    int unicodeSkip = 1;
};

class Reader {
public:
    explicit Reader(const QByteArray& rtf) : m_in(rtf) {}

    QString run() {
        m_html = QStringLiteral("<html><body>") + kParagraph;
        while (m_pos < m_in.size()) {
            const char c = m_in[m_pos++];
            if (c == '{') {
                m_stack.push_back(m_format);
                continue;
            }
            if (c == '}') {
                if (!m_stack.empty()) {
                    m_format = m_stack.back();
                    m_stack.pop_back();
                }
                continue;
            }
            if (c == '\\') {
                controlWord();
                continue;
            }
            if (c == '\r' || c == '\n') {
                continue;
            }
            if (m_format.colourTable) {
                colourTableChar(c);
                continue;
            }
            text(decodeByte(static_cast<uint8_t>(c), m_codePage));
        }
        closeSpan();
        m_html += QStringLiteral("</p></body></html>");
        return m_html;
    }

private:
    void controlWord() {
        if (m_pos >= m_in.size()) {
            return;
        }
        const char c = m_in[m_pos];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++m_pos;
            controlSymbol(c);
            return;
        }
        QByteArray word;
        while (m_pos < m_in.size() && std::isalpha(static_cast<unsigned char>(m_in[m_pos]))) {
            word += m_in[m_pos++];
        }
        bool hasParam = false;
        int param = 0;
        bool negative = false;
        if (m_pos < m_in.size() && m_in[m_pos] == '-') {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_in.size() && std::isdigit(static_cast<unsigned char>(m_in[m_pos]))) {
            hasParam = true;
            param = param * 10 + (m_in[m_pos++] - '0');
            if (param > 1000000) {
                param = 1000000;
            }
        }
        if (negative) {
            param = -param;
        }
        if (m_pos < m_in.size() && m_in[m_pos] == ' ') {
            ++m_pos;  // the delimiter belongs to the word
        }
        apply(word, hasParam, param);
    }

    void controlSymbol(char c) {
        switch (c) {
            case '\\':
            case '{':
            case '}':
                text(static_cast<char16_t>(c));
                break;
            case '~':
                text(0x00A0);
                break;
            case '-':
                break;
            case '*':
                m_format.skip = true;  // an optional destination we do not know
                break;
            case '\'': {
                if (m_pos + 2 <= m_in.size()) {
                    bool ok = false;
                    const int byte = m_in.mid(m_pos, 2).toInt(&ok, 16);
                    m_pos += 2;
                    if (ok) {
                        if (m_skipChars > 0) {
                            --m_skipChars;
                        } else {
                            text(decodeByte(static_cast<uint8_t>(byte), m_codePage));
                        }
                    }
                }
                break;
            }
            case '\r':
            case '\n':
                paragraph();
                break;
            default:
                break;
        }
    }

    void apply(const QByteArray& word, bool hasParam, int param) {
        const bool on = !hasParam || param != 0;
        if (word == "fonttbl" || word == "stylesheet" || word == "info" || word == "pict" ||
            word == "header" || word == "footer" || word == "listtable" ||
            word == "listoverridetable" || word == "rsidtbl" || word == "generator" ||
            word == "xmlnstbl" || word == "themedata" || word == "datastore" ||
            word == "latentstyles" || word == "object") {
            m_format.skip = true;
        } else if (word == "colortbl") {
            m_format.colourTable = true;
            m_format.skip = true;
            m_colours.clear();
            m_pendingColour = QColor();
        } else if (m_format.colourTable) {
            if (!m_pendingColour.isValid()) {
                m_pendingColour = QColor(0, 0, 0);
            }
            if (word == "red") {
                m_pendingColour.setRed(param);
            } else if (word == "green") {
                m_pendingColour.setGreen(param);
            } else if (word == "blue") {
                m_pendingColour.setBlue(param);
            }
        } else if (word == "ansicpg") {
            m_codePage = param;
        } else if (word == "par" || word == "sect") {
            paragraph();
        } else if (word == "line") {
            appendMarkup(QStringLiteral("<br>"));
        } else if (word == "tab") {
            appendMarkup(QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;"));
        } else if (word == "b") {
            m_format.bold = on;
        } else if (word == "i") {
            m_format.italic = on;
        } else if (word == "ul") {
            m_format.underline = on;
        } else if (word == "ulnone") {
            m_format.underline = false;
        } else if (word == "fs" && hasParam && param > 0) {
            m_format.halfPoints = param;
        } else if (word == "cf" && hasParam) {
            m_format.colour = param;
        } else if (word == "plain") {
            const bool skip = m_format.skip;
            const int uc = m_format.unicodeSkip;
            m_format = Format();
            m_format.skip = skip;
            m_format.unicodeSkip = uc;
        } else if (word == "uc" && hasParam) {
            m_format.unicodeSkip = param < 0 ? 0 : param;
        } else if (word == "u" && hasParam) {
            text(static_cast<char16_t>(param < 0 ? param + 65536 : param));
            m_skipChars = m_format.unicodeSkip;
            return;
        } else if (word == "emdash") {
            text(0x2014);
        } else if (word == "endash") {
            text(0x2013);
        } else if (word == "bullet") {
            text(0x2022);
        } else if (word == "lquote") {
            text(0x2018);
        } else if (word == "rquote") {
            text(0x2019);
        } else if (word == "ldblquote") {
            text(0x201C);
        } else if (word == "rdblquote") {
            text(0x201D);
        }
    }

    void colourTableChar(char c) {
        // An entry without components (usually the first) is the automatic colour.
        if (c == ';') {
            m_colours.push_back(m_pendingColour);
            m_pendingColour = QColor();
        }
    }

    QString styleOf(const Format& f) const {
        QString style = QStringLiteral("font-size:%1pt;").arg(f.halfPoints / 2.0);
        if (f.bold) {
            style += QStringLiteral("font-weight:bold;");
        }
        if (f.italic) {
            style += QStringLiteral("font-style:italic;");
        }
        if (f.underline) {
            style += QStringLiteral("text-decoration:underline;");
        }
        if (f.colour > 0 && f.colour < static_cast<int>(m_colours.size()) &&
            m_colours[static_cast<size_t>(f.colour)].isValid()) {
            style +=
                QStringLiteral("color:%1;").arg(m_colours[static_cast<size_t>(f.colour)].name());
        }
        return style;
    }

    void text(char16_t ch) {
        if (m_format.skip) {
            return;
        }
        if (m_skipChars > 0) {
            --m_skipChars;
            return;
        }
        const QString style = styleOf(m_format);
        if (style != m_openStyle) {
            closeSpan();
            m_html += QStringLiteral("<span style=\"%1\">").arg(style);
            m_openStyle = style;
        }
        m_paragraphEmpty = false;
        switch (ch) {
            case '<':
                m_html += QStringLiteral("&lt;");
                break;
            case '>':
                m_html += QStringLiteral("&gt;");
                break;
            case '&':
                m_html += QStringLiteral("&amp;");
                break;
            default:
                m_html += QChar(ch);
                break;
        }
    }

    void appendMarkup(const QString& markup) {
        if (!m_format.skip) {
            m_html += markup;
        }
    }

    void closeSpan() {
        if (!m_openStyle.isEmpty()) {
            m_html += QStringLiteral("</span>");
            m_openStyle.clear();
        }
    }

    void paragraph() {
        if (m_format.skip) {
            return;
        }
        closeSpan();
        if (m_paragraphEmpty) {
            m_html += QStringLiteral("&nbsp;");  // an empty paragraph keeps its line
        }
        m_html += QStringLiteral("</p>") + kParagraph;
        m_paragraphEmpty = true;
    }

    const QByteArray& m_in;
    qsizetype m_pos = 0;
    QString m_html;
    QString m_openStyle;
    Format m_format;
    std::vector<Format> m_stack;
    std::vector<QColor> m_colours;
    QColor m_pendingColour;
    int m_codePage = 1252;
    int m_skipChars = 0;
    bool m_paragraphEmpty = true;
};

}  // namespace

QString rtfToHtml(const QByteArray& rtf) {
    if (!rtf.trimmed().startsWith("{\\rtf")) {
        QString plain = QString::fromUtf8(rtf).toHtmlEscaped();
        plain.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
        return plain;
    }
    return Reader(rtf).run();
}

}  // namespace korvan::app
