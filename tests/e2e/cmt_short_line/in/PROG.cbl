       COPY

           SH.
       01 Z PIC X.
