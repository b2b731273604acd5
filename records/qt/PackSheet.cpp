#include "records/qt/PackSheet.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <stdexcept>

namespace {

constexpr double kMmPerInch = 25.4;
constexpr int kPngDpi = 150;
constexpr int kPdfDpi = 300;
constexpr double kPageWidthMm = 297, kPageHeightMm = 210;  // A4 landscape
constexpr double kMarginMm = 10, kGapMm = 4, kPaddingMm = 2.5;
constexpr double kCellPt = 10, kHeadPt = 12, kTitlePt = 14;

struct TBox {
    int Page = 0;
    QRectF Rect;  // device units
    int Columns = 1;
    int Lines = 0;    // cell lines per column
    double Step = 0;  // from one column to the next
};

// Where every group's box goes on which page, for a device of `dpi` dots per inch.
class TSheetLayout {
  public:
    TSheetLayout(const TPack& pack, double dpi) : FDpi(dpi) {
        const QFontMetricsF cell(CellFont()), head(HeadFont());
        const double line = cell.lineSpacing();
        const double padding = Mm(kPaddingMm);
        const double headHeight = head.lineSpacing() + cell.lineSpacing();
        const QRectF area = Area();
        const double headWidth =
            head.horizontalAdvance(QString("Group %1").arg(pack.Groups.size()));
        double widest = 0;
        for (const TPackGroup& group : pack.Groups) {
            for (const TPackCell& c : group.Cells) {
                widest = std::max(widest, cell.horizontalAdvance(QString::fromStdString(c.Id)));
            }
        }
        const double columnWidth = std::min(widest + Mm(kGapMm), area.width() - 2 * padding);
        const int mostLines =
            std::max(1, static_cast<int>((area.height() - headHeight - 2 * padding) / line));
        // Every group has P cells: one box shape for all, in as many columns as put the most
        // boxes on a page (the fewest columns among equals, which read best).
        size_t cells = 1;
        for (const TPackGroup& group : pack.Groups) cells = std::max(cells, group.Cells.size());
        const auto boxOf = [&](int columns) {
            TBox box;
            box.Columns = columns;
            box.Step = columnWidth;
            box.Lines = static_cast<int>((cells + columns - 1) / columns);
            const double inside = std::max(columns * columnWidth - Mm(kGapMm), headWidth);
            box.Rect.setSize({std::min(area.width(), inside + 2 * padding),
                              headHeight + box.Lines * line + 2 * padding});
            return box;
        };
        const auto perPage = [&](const TBox& box) {
            const double gap = Mm(kGapMm);
            const int across =
                std::max(1, static_cast<int>((area.width() + gap) / (box.Rect.width() + gap)));
            const int down =
                std::max(1, static_cast<int>((area.height() + gap) / (box.Rect.height() + gap)));
            return across * down;
        };
        TBox shape = boxOf((static_cast<int>(cells) + mostLines - 1) / mostLines);
        for (int columns = shape.Columns + 1; columns <= static_cast<int>(cells); ++columns) {
            const TBox wider = boxOf(columns);
            if (wider.Rect.width() >= area.width()) break;
            if (perPage(wider) > perPage(shape)) shape = wider;
        }
        double x = area.left(), y = area.top(), rowHeight = 0;
        int page = 0;
        for (size_t g = 0; g < pack.Groups.size(); ++g) {
            TBox box = shape;
            const double width = box.Rect.width(), height = box.Rect.height();
            if (x > area.left() && x + width > area.right()) {  // the next row
                x = area.left();
                y += rowHeight + Mm(kGapMm);
                rowHeight = 0;
            }
            if (y > area.top() && y + height > area.bottom()) {  // the next page
                ++page;
                x = area.left();
                y = area.top();
                rowHeight = 0;
            }
            box.Page = page;
            box.Rect.moveTopLeft({x, y});
            FBoxes.push_back(box);
            x += width + Mm(kGapMm);
            rowHeight = std::max(rowHeight, height);
        }
        FPages = page + 1;
    }

    double Mm(double mm) const { return mm * FDpi / kMmPerInch; }
    QSizeF Page() const { return {Mm(kPageWidthMm), Mm(kPageHeightMm)}; }
    // Below the title, inside the margins.
    QRectF Area() const {
        const double title = QFontMetricsF(TitleFont()).lineSpacing() * 1.6;
        return QRectF(Mm(kMarginMm), Mm(kMarginMm) + title, Page().width() - 2 * Mm(kMarginMm),
                      Page().height() - 2 * Mm(kMarginMm) - title);
    }
    QFont CellFont() const { return Font(kCellPt, false); }
    QFont HeadFont() const { return Font(kHeadPt, true); }
    QFont TitleFont() const { return Font(kTitlePt, true); }
    const std::vector<TBox>& Boxes() const { return FBoxes; }
    int Pages() const { return FPages; }

  private:
    // Sized in the device's own dots, so that text is as large on paper in every format.
    QFont Font(double points, bool bold) const {
        QFont font("DejaVu Sans");
        font.setPixelSize(std::max(1, static_cast<int>(points * FDpi / 72.0 + 0.5)));
        font.setBold(bold);
        return font;
    }

    double FDpi;
    std::vector<TBox> FBoxes;
    int FPages = 1;
};

void DrawPage(QPainter& painter, const TSheetLayout& layout, const TPack& pack, int page,
              const QString& title) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    painter.setFont(layout.TitleFont());
    const QString pageText =
        layout.Pages() > 1 ? QString("   (page %1 of %2)").arg(page + 1).arg(layout.Pages()) : "";
    painter.drawText(QPointF(layout.Mm(kMarginMm),
                             layout.Mm(kMarginMm) + QFontMetricsF(layout.TitleFont()).ascent()),
                     title + pageText);
    const double padding = layout.Mm(kPaddingMm);
    const QFontMetricsF cell(layout.CellFont()), head(layout.HeadFont());
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        const TBox& box = layout.Boxes()[g];
        if (box.Page != page) continue;
        const TPackGroup& group = pack.Groups[g];
        painter.setPen(QPen(Qt::black, layout.Mm(0.4)));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.Rect, layout.Mm(1.5), layout.Mm(1.5));
        double y = box.Rect.top() + padding + head.ascent();
        painter.setFont(layout.HeadFont());
        painter.drawText(QPointF(box.Rect.left() + padding, y), QString("Group %1").arg(g + 1));
        y += cell.lineSpacing();
        painter.setFont(layout.CellFont());
        painter.drawText(QPointF(box.Rect.left() + padding, y),
                         QString("%1 mAh").arg(group.CapacityMah));
        const double top = box.Rect.top() + padding + head.lineSpacing() + cell.lineSpacing();
        for (size_t i = 0; i < group.Cells.size(); ++i) {
            const int column = static_cast<int>(i) / box.Lines;
            const int row = static_cast<int>(i) % box.Lines;
            const QPointF at(box.Rect.left() + padding + column * box.Step,
                             top + row * cell.lineSpacing() + cell.ascent());
            painter.drawText(at, QString::fromStdString(group.Cells[i].Id));
        }
    }
}

}  // namespace

std::vector<std::string> WritePackSheet(const std::string& path, const TPack& pack,
                                        const std::string& title) {
    const QString file = QString::fromStdString(path);
    const QString heading = QString::fromStdString(title);
    if (file.endsWith(".pdf", Qt::CaseInsensitive)) {
        QPdfWriter pdf(file);
        pdf.setResolution(kPdfDpi);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setTitle(heading);
        const TSheetLayout layout(pack, kPdfDpi);
        QPainter painter;
        if (!painter.begin(&pdf)) throw std::runtime_error("cannot write " + path);
        for (int page = 0; page < layout.Pages(); ++page) {
            if (page > 0) pdf.newPage();
            DrawPage(painter, layout, pack, page, heading);
        }
        if (!painter.end()) throw std::runtime_error("cannot write " + path);
        return {path};
    }
    const TSheetLayout layout(pack, kPngDpi);
    std::vector<std::string> written;
    const QString base = file.endsWith(".png", Qt::CaseInsensitive) ? file.chopped(4) : file;
    for (int page = 0; page < layout.Pages(); ++page) {
        QImage image(layout.Page().toSize(), QImage::Format_RGB32);
        image.setDotsPerMeterX(static_cast<int>(kPngDpi / 0.0254));
        image.setDotsPerMeterY(static_cast<int>(kPngDpi / 0.0254));
        image.fill(Qt::white);
        QPainter painter(&image);
        DrawPage(painter, layout, pack, page, heading);
        painter.end();
        const QString name = page == 0 ? file : QString("%1_%2.png").arg(base).arg(page + 1);
        if (!image.save(name, "PNG"))
            throw std::runtime_error("cannot write " + name.toStdString());
        written.push_back(name.toStdString());
    }
    return written;
}
