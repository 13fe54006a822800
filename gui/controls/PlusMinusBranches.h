#pragma once
// Tree views with the classic expanders: a small box with a plus sign on a
// closed node and a minus sign on an open one, joined by dotted lines.
class QTreeView;

// Draws the tree's branches so; the style lives as long as the tree.
void ShowPlusMinusExpanders(QTreeView *tree);
