       01 A PIC X.
       COPY CRM.
       01 B PIC X.
       COPY CRM
