       COPY EMPTY.
       01 A PIC X.
