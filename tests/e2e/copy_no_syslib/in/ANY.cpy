       01 ANY-HERE PIC X.
