// editor.cpp - the line editor: state, display, key loop and editing commands.
