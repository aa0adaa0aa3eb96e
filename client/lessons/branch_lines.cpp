#include "client/lessons/branch_lines.h"

#include <QProxyStyle>
#include <QStyleFactory>
#include <QTreeView>

#include <memory>

namespace mirvo {

namespace {

// The application's style for everything but the branches, which the
// Windows style draws with its dotted lines and "+"/"-" boxes.
class branch_lines_style final : public QProxyStyle {
public:
    branch_lines_style() : lines_(QStyleFactory::create("Windows")) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_IndicatorBranch && lines_) {
            lines_->drawPrimitive(element, option, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

private:
    std::unique_ptr<QStyle> lines_;
};

}  // namespace

void draw_branch_lines(QTreeView* tree) {
    auto* style = new branch_lines_style;
    style->setParent(tree);
    tree->setStyle(style);
    tree->setRootIsDecorated(true);
}

}  // namespace mirvo
