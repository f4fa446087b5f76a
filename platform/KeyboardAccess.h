#pragma once
// What makes a window usable from the keyboard alone, whatever the window:
// an Alt+letter shortcut on every labelled control and button, and a focus
// frame around the views the style draws no focus on.

class QString;
class QWidget;

namespace og {

// Gives each button and each label beside a control (its buddy; a label
// without one takes the control next to it in its layout) an Alt+letter
// that nothing else in the window has. Shortcuts already written ("&Send")
// are kept; the rest take the first free letter, a word's first letter
// before the others, in the order the controls were made. Call it once the
// window's controls exist; again after more are added.
void assignShortcuts(QWidget* window);

// The property (true) of a control that wants a letter only where the
// letters go round: the window's secondary ones.
inline constexpr const char* ShortcutLast = "ogShortcutLast";

// The letter (lower case) of a text's shortcut; 0 when it has none.
char16_t shortcutLetter(const QString& text);

// A focus frame (the style's, QFocusFrame) follows the focus to any view
// or text area of the window: their frames show no focus of their own.
void showFocusFrames(QWidget* window);

} // namespace og
