// The catalogue tree's branch lines. The platform's tree control draws dotted
// lines from every item to its parent and between root items; the usual Qt
// styles on Linux draw only the expand arrows, so the tree gets a style that
// draws the lines and the boxed "+" and "-" and leaves the rest to the
// application's style.
#pragma once

class QTreeView;

namespace mirvo {

// Gives tree a style of its own that draws its branches with lines, at the
// root too. The style lives as long as the tree.
void draw_branch_lines(QTreeView* tree);

}  // namespace mirvo
