       01 A PIC X. COPY CB. 01 C PIC X.
