       01 OUTER-REC.
       COPY INNER.
