       01 ABC PIC X.
