       COPY NOSUCH.
       COPY HAVE.
       01 X PIC X.
