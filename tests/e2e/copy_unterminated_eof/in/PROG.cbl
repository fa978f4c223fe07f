       01 A PIC X.
       COPY MEMBERF